#pragma once

// Exports read back as the readers of each format read them, and tiles of one colour to make
// them from.
#include "mapexport/tiles.h"

#include <QColor>
#include <QFileInfo>
#include <QImage>
#include <QString>
#include <QXmlStreamReader>

#include <cpl_vsi.h>
#include <gdal.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <sqlite3.h>
#include <vector>

namespace testsupport {

constexpr double earthRadius = 6378137;
constexpr double pi = 3.14159265358979323846;

// A picture of one colour, as a GIF through GDAL.
inline void writeSolidGif(const char* path, int side, std::array<short, 3> rgb)
{
    GDALDatasetH mem = GDALCreate(GDALGetDriverByName("MEM"), "", side, side, 1, GDT_Byte, nullptr);
    GDALColorTableH table = GDALCreateColorTable(GPI_RGB);
    const GDALColorEntry entry{rgb[0], rgb[1], rgb[2], 255};
    GDALSetColorEntry(table, 0, &entry);
    GDALSetRasterColorTable(GDALGetRasterBand(mem, 1), table);
    GDALDestroyColorTable(table);
    GDALFillRaster(GDALGetRasterBand(mem, 1), 0, 0);
    GDALClose(
        GDALCreateCopy(GDALGetDriverByName("GIF"), path, mem, FALSE, nullptr, nullptr, nullptr));
    GDALClose(mem);
}

// Tiles of |side| pixels a side, each the picture file named beside it (in the working folder),
// of map type 1 at |zoom| (by default about a degree wide for 200 pixels).
inline std::vector<mapexport::Tile> pictureTiles(const std::vector<const char*>& files, int side,
                                                 double zoom = 45 * 1999 / 200.0)
{
    std::vector<mapexport::Tile> tiles(files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        tiles[i].path = QFileInfo(QString::fromLatin1(files[i])).absoluteFilePath();
        tiles[i].width = tiles[i].height = side;
        tiles[i].mapType = 1;
        tiles[i].zoom = zoom;
    }
    return tiles;
}

// A SQLiteDB file read the way OsmAnd reads it: the zoom range from "info" (BigPlanet numbers,
// 17 - zoom, unless "tilenumbering" says otherwise), a tile by x, y from the north and z.
class SqlitedbReader {
public:
    explicit SqlitedbReader(const char* path)
    {
        sqlite3_open_v2(path, &db_, SQLITE_OPEN_READONLY, nullptr);
        sqlite3_stmt* info = nullptr;
        sqlite3_prepare_v2(db_, "SELECT minzoom, maxzoom, tilenumbering FROM info", -1, &info,
                           nullptr);
        if (sqlite3_step(info) == SQLITE_ROW) {
            const auto* numbering = reinterpret_cast<const char*>(sqlite3_column_text(info, 2));
            bigPlanet_ = numbering == nullptr || QByteArray(numbering).toLower() == "bigplanet";
            minZoom = bigPlanet_ ? 17 - sqlite3_column_int(info, 1) : sqlite3_column_int(info, 0);
            maxZoom = bigPlanet_ ? 17 - sqlite3_column_int(info, 0) : sqlite3_column_int(info, 1);
        }
        sqlite3_finalize(info);
    }
    ~SqlitedbReader() { sqlite3_close(db_); }
    SqlitedbReader(const SqlitedbReader&) = delete;
    SqlitedbReader& operator=(const SqlitedbReader&) = delete;

    // The colour at |lon|, |lat| at |zoom|; transparent where no tile is.
    QColor at(double lon, double lat, int zoom) const
    {
        const double world = 256.0 * (1 << zoom);
        const double x = (lon + 180) / 360 * world;
        const double y = (1 - std::log(std::tan(pi / 4 + lat * pi / 360)) / pi) / 2 * world;
        sqlite3_stmt* tile = nullptr;
        sqlite3_prepare_v2(db_, "SELECT image FROM tiles WHERE x = ?1 AND y = ?2 AND z = ?3", -1,
                           &tile, nullptr);
        sqlite3_bind_int(tile, 1, static_cast<int>(x / 256));
        sqlite3_bind_int(tile, 2, static_cast<int>(y / 256));
        sqlite3_bind_int(tile, 3, bigPlanet_ ? 17 - zoom : zoom);
        QColor colour(Qt::transparent);
        if (sqlite3_step(tile) == SQLITE_ROW) {
            const QImage image =
                QImage::fromData(static_cast<const uchar*>(sqlite3_column_blob(tile, 0)),
                                 sqlite3_column_bytes(tile, 0));
            colour = image.pixelColor(static_cast<int>(x) % 256, static_cast<int>(y) % 256);
        }
        sqlite3_finalize(tile);
        return colour;
    }

    int minZoom = -1;
    int maxZoom = -1;

private:
    sqlite3* db_ = nullptr;
    bool bigPlanet_ = true;
};

// A KMZ read as a GPS unit reads it: the zip's first entry, doc.kml's description and its
// ground overlays, each a JPEG placed by its LatLonBox.
struct KmzFile {
    struct Overlay {
        QImage image;
        double north = 0, south = 0, east = 0, west = 0;
        int drawOrder = 0;
    };
    QByteArray firstEntry;
    QString description;
    std::vector<Overlay> overlays;

    explicit KmzFile(const QString& path)
    {
        QFile zip(path);
        if (zip.open(QIODevice::ReadOnly)) {
            const QByteArray header = zip.read(30);
            const auto length = static_cast<unsigned char>(header[26]) |
                                static_cast<unsigned char>(header[27]) << 8;
            firstEntry = zip.read(length);
        }
        QXmlStreamReader kml(entry(path, "doc.kml"));
        Overlay* overlay = nullptr;
        while (kml.readNextStartElement() || !kml.atEnd()) {
            if (!kml.isStartElement()) {
                kml.readNext();
                continue;
            }
            const auto name = kml.name();
            if (name == u"GroundOverlay") {
                overlay = &overlays.emplace_back();
            } else if (name == u"description" && overlay == nullptr) {
                description = kml.readElementText();
            } else if (overlay != nullptr && name == u"href") {
                overlay->image = QImage::fromData(entry(path, kml.readElementText()));
            } else if (overlay != nullptr && name == u"drawOrder") {
                overlay->drawOrder = kml.readElementText().toInt();
            } else if (overlay != nullptr && (name == u"north" || name == u"south" ||
                                              name == u"east" || name == u"west")) {
                const double value = kml.readElementText().toDouble();
                (name == u"north"   ? overlay->north
                 : name == u"south" ? overlay->south
                 : name == u"east"  ? overlay->east
                                    : overlay->west) = value;
            }
        }
    }

    QColor at(double lon, double lat) const
    {
        for (const Overlay& o : overlays) {
            if (lon >= o.west && lon < o.east && lat <= o.north && lat > o.south) {
                return o.image.pixelColor(
                    static_cast<int>((lon - o.west) / (o.east - o.west) * o.image.width()),
                    static_cast<int>((o.north - lat) / (o.north - o.south) * o.image.height()));
            }
        }
        return Qt::transparent;
    }

private:
    static QByteArray entry(const QString& zip, const QString& name)
    {
        const std::string vsi = "/vsizip/" + zip.toStdString() + "/" + name.toStdString();
        VSIStatBufL stat{};
        VSILFILE* file = VSIFOpenL(vsi.c_str(), "rb");
        if (file == nullptr || VSIStatL(vsi.c_str(), &stat) != 0) {
            return {};
        }
        QByteArray bytes(static_cast<qsizetype>(stat.st_size), '\0');
        bytes.resize(static_cast<qsizetype>(VSIFReadL(bytes.data(), 1, bytes.size(), file)));
        VSIFCloseL(file);
        return bytes;
    }
};

// Near enough for a JPEG of one colour.
inline bool near(const QColor& a, const QColor& b)
{
    return std::abs(a.red() - b.red()) < 12 && std::abs(a.green() - b.green()) < 12 &&
           std::abs(a.blue() - b.blue()) < 12 && a.alpha() == b.alpha();
}

// The colour of an export GDAL reads at |lon|, |lat|: Web Mercator (|mercator|) or degrees. A
// longitude past the file's east edge is taken a turn further west, and one before its west edge
// a turn further east: whichever the file holds.
inline std::array<std::uint8_t, 4> colourIn(GDALDatasetH ds, bool mercator, double lon, double lat)
{
    double t[6] = {};
    GDALGetGeoTransform(ds, t);
    const double worldX = mercator ? earthRadius * pi : 180.0;
    const double y = mercator ? std::log(std::tan(pi / 4 + lat * pi / 360)) * earthRadius : lat;
    double x = mercator ? lon * pi / 180 * earthRadius : lon;
    const double right = t[0] + t[1] * GDALGetRasterXSize(ds);
    x += x > right ? -2 * worldX : x < t[0] ? 2 * worldX : 0;
    std::array<std::uint8_t, 4> rgba{};
    const int column = static_cast<int>((x - t[0]) / t[1]);
    const int row = static_cast<int>((y - t[3]) / t[5]);
    for (int band = 1; band <= 4; ++band) {
        if (GDALRasterIO(GDALGetRasterBand(ds, band), GF_Read, column, row, 1, 1,
                         &rgba[static_cast<std::size_t>(band - 1)], 1, 1, GDT_Byte, 0,
                         0) != CE_None) {
            return {};
        }
    }
    return rgba;
}

} // namespace testsupport
