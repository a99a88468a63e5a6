// Tiles made by the project's own map service from a GeoTIFF with a known pattern, exported as
// one file and read back with GDAL: a known coordinate lands where it belongs, within one tile
// pixel, in both formats.
#include "common/errortext.h"
#include "common/tilefolder.h"
#include "common/worldfile.h"
#include "geotiffwriter.h"
#include "gifmaker.h"
#include "leftovers.h"
#include "mapexport/gdalexport.h"
#include "mapexport/kmz.h"
#include "mapexport/mosaic.h"
#include "mapexport/tiles.h"
#include "pelagrin/requesturl.h"
#include "pelagrin/settings.h"
#include "pelagrin/tilename.h"
#include "serviceprocess.h"
#include "tempworkdir.h"

#include <QDir>
#include <QImage>
#include <QUrl>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <cpl_vsi.h>
#include <gdal.h>
#include <httplib.h>

#include <cmath>
#include <sqlite3.h>
#include <sys/stat.h>

namespace {

using testsupport::TempWorkDir;

constexpr double earthRadius = 6378137;
constexpr double pi = 3.14159265358979323846;

// The pattern: a dark map with a red band east of |markLon| and a blue band south of
// |markLat|, each a tenth of the region wide. The marks lie on the edges of the pattern's own
// pixels, so that where the map service draws them is exact.
constexpr int patternSide = 2000;

struct Pattern {
    double west, north, east, south;
    double markLon, markLat;

    Pattern(double w, double n, double e, double s, double lon, double lat)
        : west(w), north(n), east(e), south(s), markLon(w + std::round((lon - w) / dx()) * dx()),
          markLat(n - std::round((n - lat) / dy()) * dy())
    {}
    double dx() const { return (east - west) / patternSide; }
    double dy() const { return (north - south) / patternSide; }
};

bool writePattern(const std::string& path, const Pattern& p)
{
    const int width = patternSide;
    const int height = patternSide;
    const double dx = p.dx();
    const double dy = p.dy();
    const double band = (p.east - p.west) / 10;
    return testsupport::writeGeotiff(path, 4326, p.west, p.north, dx, dy, width, height,
                                     [&](int x, int y) -> std::array<std::uint8_t, 3> {
                                         const double lon = p.west + (x + 0.5) * dx;
                                         const double lat = p.north - (y + 0.5) * dy;
                                         const bool red =
                                             lon >= p.markLon && lon < p.markLon + band;
                                         const bool blue =
                                             lat <= p.markLat && lat > p.markLat - band;
                                         return {static_cast<std::uint8_t>(red ? 240 : 30), 30,
                                                 static_cast<std::uint8_t>(blue ? 240 : 30)};
                                     });
}

// Fetches a region the way the downloader does (names, URLs, centres shifted by a millionth of
// a degree) into mymaps, with its world files.
bool downloadRegion(int port, double lat0, double lon0, double zoom, double step, int rows,
                    int columns)
{
    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(60, 0);
    QDir().mkdir(QStringLiteral("mymaps"));
    for (int i = 0; i < rows; ++i) {
        for (int j = 0; j < columns; ++j) {
            pelagrin::MapSettings s;
            s.zoom = zoom;
            s.mapcode = pelagrin::mapcodeType1;
            s.latitude = lat0 - i * step + 0.000001;
            s.longitude = lon0 + j * step + 0.000001;
            const QUrl url(pelagrin::generateurl(s, pelagrin::modeLarge,
                                                 QStringLiteral("127.0.0.1:%1").arg(port)),
                           QUrl::TolerantMode);
            const auto reply =
                client.Get(url.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority).toStdString());
            if (!reply || reply->status != 200) {
                return false;
            }
            const QString path = QStringLiteral("mymaps/") + pelagrin::regionTileName(s);
            TempWorkDir::write(path, QByteArray::fromStdString(reply->body));
            const auto place = common::pictureGeoTransform(
                s.latitude, s.longitude, zoom, pelagrin::largeSide, pelagrin::largeSide);
            TempWorkDir::write(common::worldFilePath(path), common::worldFileText(place));
            TempWorkDir::write(common::auxFilePath(path), common::auxFileText(place));
        }
    }
    return true;
}

std::optional<QString> exportFolder(const QString& output)
{
    const mapexport::Scan scan = mapexport::scanFolder(common::TileFolder::lookUp());
    const auto chosen = mapexport::chooseTiles(scan.tiles, {});
    if (!chosen) {
        return common::errorText(chosen.error());
    }
    const auto& tiles = *chosen;
    const auto written =
        mapexport::writeExport(mapexport::planMosaic(tiles, mapexport::exactCentres(tiles)),
                               *mapexport::formatOf(output), output, QStringLiteral("test region"));
    return written ? std::nullopt : std::optional(common::errorText(written.error()));
}

// Where |channel| of the band |bandIndex| crosses its middle (135) going along a row or a
// column from |start| (pixel centres are at +0.5), interpolated; NaN when it does not.
double crossing(GDALDatasetH ds, int bandIndex, bool alongRow, int fixed)
{
    const int count = alongRow ? GDALGetRasterXSize(ds) : GDALGetRasterYSize(ds);
    std::vector<std::uint8_t> values(static_cast<std::size_t>(count));
    GDALRasterBandH band = GDALGetRasterBand(ds, bandIndex);
    const CPLErr read = alongRow ? GDALRasterIO(band, GF_Read, 0, fixed, count, 1, values.data(),
                                                count, 1, GDT_Byte, 0, 0)
                                 : GDALRasterIO(band, GF_Read, fixed, 0, 1, count, values.data(), 1,
                                                count, GDT_Byte, 0, 0);
    if (read != CE_None) {
        return NAN;
    }
    for (int i = 1; i < count; ++i) {
        const double a = values[static_cast<std::size_t>(i - 1)];
        const double b = values[static_cast<std::size_t>(i)];
        if ((a < 135) != (b < 135)) {
            return i - 0.5 + (135 - a) / (b - a);
        }
    }
    return NAN;
}

struct ExportCase {
    const char* name;
    double zoom;
    double offset; // the downloader's divisor: tiles lie zoom / offset degrees apart
    int rows;
    int columns;
    const char* output;
    bool worldFiles = true; // without them the exporter snaps the names' centres to the grid
};

class ExportedRegion : public ::testing::TestWithParam<ExportCase> {};

TEST_P(ExportedRegion, PutsAKnownPointWithinOneTilePixel)
{
    const ExportCase c = GetParam();
    TempWorkDir work;
    const double step = c.zoom / c.offset;
    const double span = c.zoom / 45; // of one tile
    const double lat0 = 47;
    const double lon0 = 8;
    // The marks fall inside the region, off the tiles' centres and edges.
    const Pattern pattern{lon0 - span,
                          lat0 + span,
                          lon0 + (c.columns - 1) * step + span,
                          lat0 - (c.rows - 1) * step - span,
                          lon0 + 0.37 * step,
                          lat0 - 0.41 * step};
    const std::string source = (work.path() + QStringLiteral("/pattern.tif")).toStdString();
    ASSERT_TRUE(writePattern(source, pattern));
    testsupport::ServiceProcess service(MAPSERVICE_BIN, {"--source", "type1=" + source});
    ASSERT_GT(service.port(), 0);
    ASSERT_TRUE(downloadRegion(service.port(), lat0, lon0, c.zoom, step, c.rows, c.columns));
    if (!c.worldFiles) {
        for (const QString& name : QDir(QStringLiteral("mymaps")).entryList({"*.gfw", "*.xml"})) {
            QFile::remove(QStringLiteral("mymaps/") + name);
        }
    }

    const QString output = QString::fromLatin1(c.output);
    const auto error = exportFolder(output);
    ASSERT_FALSE(error.has_value()) << error->toStdString();
    EXPECT_TRUE(QDir().entryList(QDir::Hidden | QDir::Files).filter(u".tmp").isEmpty());

    GDALDatasetH ds = GDALOpen(QFile::encodeName(output).constData(), GA_ReadOnly);
    ASSERT_NE(ds, nullptr);
    EXPECT_EQ(GDALGetRasterCount(ds) >= 3, true);
    double t[6];
    ASSERT_EQ(GDALGetGeoTransform(ds, t), CE_None);
    const double tilePixel = common::degreesPerPixel(c.zoom);
    const bool mercator = output.endsWith(u".mbtiles");
    // Degrees to the file's own coordinates and back.
    const auto toX = [&](double lon) { return mercator ? lon * pi / 180 * earthRadius : lon; };
    const auto toY = [&](double lat) {
        return mercator ? std::log(std::tan(pi / 4 + lat * pi / 360)) * earthRadius : lat;
    };
    const auto lonOf = [&](double x) { return mercator ? x / earthRadius * 180 / pi : x; };
    const auto latOf = [&](double y) {
        return mercator ? std::atan(std::sinh(y / earthRadius)) * 180 / pi : y;
    };
    // Along the row through the first tiles' centres, and the column through the first
    // column's, away from every legend.
    const int row = static_cast<int>((toY(lat0) - t[3]) / t[5]);
    const int column = static_cast<int>((toX(lon0) - t[0]) / t[1]);
    const double x = crossing(ds, 1, true, row);
    const double y = crossing(ds, 3, false, column);
    GDALClose(ds);
    const double foundLon = lonOf(t[0] + x * t[1]);
    const double foundLat = latOf(t[3] + y * t[5]);
    std::printf("%s: mark at %.6f E %.6f N found at %.6f E %.6f N (tile pixel %.6f)\n", c.name,
                pattern.markLon, pattern.markLat, foundLon, foundLat, tilePixel);
    EXPECT_NEAR(foundLon, pattern.markLon, tilePixel);
    EXPECT_NEAR(foundLat, pattern.markLat, tilePixel);
}

INSTANTIATE_TEST_SUITE_P(
    Regions, ExportedRegion,
    ::testing::Values(ExportCase{"Zoom20GeoTiff", 20, 45, 2, 2, "region.tif"},
                      ExportCase{"Zoom20MBTiles", 20, 45, 2, 2, "region.mbtiles"},
                      ExportCase{"Zoom150Offset50GeoTiff", 150, 50, 2, 2, "region.tif"},
                      ExportCase{"Zoom150Offset50MBTiles", 150, 50, 2, 2, "region.mbtiles"},
                      ExportCase{"Zoom20NamesOnly", 20, 45, 3, 3, "region.tif", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ExportFailure, AnEarlierFileStaysAndNothingIsLeft)
{
    TempWorkDir work;
    TempWorkDir::writeTiles({"IDA_E_B48!00L10!00Z45.gif"}, "GIF89a\x10\x00\x10\x00 cut short");
    TempWorkDir::write(QStringLiteral("region.tif"), "the earlier export");
    const auto error = exportFolder(QStringLiteral("region.tif"));
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(TempWorkDir::read(QStringLiteral("region.tif")), "the earlier export");
    EXPECT_EQ(QDir().entryList(QDir::Files | QDir::Hidden), QStringList{"region.tif"});
}

TEST(DamagedFolder, IsExportedWithoutItsDamagedTilesInOneRun)
{
    TempWorkDir work;
    const QByteArray tile = testsupport::makeGif(1999, 1999);
    TempWorkDir::writeTiles(
        {"IDA_E_B48!00L10!00Z45.gif", "IDA_E_B48!00L11!00Z45.gif", "IDA_E_B49!00L10!00Z45.gif"},
        tile);
    TempWorkDir::write(QStringLiteral("mymaps/IDA_E_B49!00L11!00Z45.gif"), tile.left(5000));
    TempWorkDir::write(QStringLiteral("mymaps/IDA_E_B49!00L10!00Z45.gfw"),
                       "nan\n0\n0\nnan\n0\n0\n");
    ASSERT_EQ(::mkfifo("mymaps/IDA_E_B48!00L11!00Z45.gif.aux.xml", 0600), 0);
    const auto scan = mapexport::scanFolder(common::TileFolder::lookUp());
    EXPECT_EQ(scan.leftOut.size(), 2) << scan.leftOut.join(u'|').toStdString();
    EXPECT_EQ(scan.warnings.size(), 1);
    const auto error = exportFolder(QStringLiteral("region.tif"));
    ASSERT_FALSE(error.has_value()) << error->toStdString();
    GDALDatasetH ds = GDALOpen("region.tif", GA_ReadOnly);
    ASSERT_NE(ds, nullptr);
    EXPECT_EQ(GDALGetRasterXSize(ds), 1999);
    EXPECT_EQ(GDALGetRasterYSize(ds), 3998);
    GDALClose(ds);
}

TEST(ExportedGaps, AreTransparentAndTheCreditTravels)
{
    TempWorkDir work;
    // Three of a 2 x 2 region of 200-pixel tiles a degree wide: the north-east quarter is a gap.
    TempWorkDir::write(QStringLiteral("t.gif"), testsupport::makeGif(200, 200));
    const std::vector<mapexport::Centre> centres{{48, 10}, {48, 11}, {49, 10}};
    std::vector<mapexport::Tile> tiles(centres.size());
    for (mapexport::Tile& t : tiles) {
        t.path = QFileInfo(QStringLiteral("t.gif")).absoluteFilePath();
        t.width = t.height = 200;
        t.mapType = 1;
        t.zoom = 45 * 1999 / 200.0;
    }
    tiles[0].credit = QStringLiteral("Tiles & more");
    mapexport::Mosaic mosaic = mapexport::planMosaic(tiles, centres);
    mosaic.credit = mapexport::creditOf(tiles);
    // The longest name a file system takes: the temporaries' names do not grow with it.
    const std::string longest = std::string(251, 'g') + ".tif";
    for (const char* output : {"gaps.tif", "gaps.mbtiles", "gaps.gpkg", longest.c_str()}) {
        SCOPED_TRACE(output);
        const QString name = QString::fromLatin1(output);
        ASSERT_TRUE(mapexport::writeExport(mosaic, *mapexport::formatOf(name), name, name).ok());
        GDALDatasetH ds = GDALOpen(output, GA_ReadOnly);
        ASSERT_NE(ds, nullptr);
        ASSERT_EQ(GDALGetRasterCount(ds), 4);
        GDALRasterBandH alpha = GDALGetRasterBand(ds, 4);
        const int w = GDALGetRasterXSize(ds);
        const int h = GDALGetRasterYSize(ds);
        std::uint8_t gap = 1;
        std::uint8_t filled = 0;
        ASSERT_EQ(GDALRasterIO(alpha, GF_Read, w * 3 / 4, h / 4, 1, 1, &gap, 1, 1, GDT_Byte, 0, 0),
                  CE_None);
        ASSERT_EQ(
            GDALRasterIO(alpha, GF_Read, w / 4, h * 3 / 4, 1, 1, &filled, 1, 1, GDT_Byte, 0, 0),
            CE_None);
        EXPECT_EQ(gap, 0);
        EXPECT_EQ(filled, 255);
        const std::string metadata = [&] {
            std::string all;
            for (char** item = GDALGetMetadata(ds, nullptr); item != nullptr && *item != nullptr;
                 ++item) {
                all += std::string(*item) + "\n";
            }
            return all;
        }();
        if (name.endsWith(u".tif")) {
            EXPECT_NE(metadata.find("TIFFTAG_COPYRIGHT=Tiles & more"), std::string::npos)
                << metadata;
        } else if (name.endsWith(u".gpkg")) {
            EXPECT_NE(metadata.find("attribution=Tiles & more"), std::string::npos) << metadata;
        } else {
            EXPECT_NE(metadata.find("attribution=Tiles &amp; more"), std::string::npos) << metadata;
            EXPECT_NE(metadata.find("center=10.5"), std::string::npos) << metadata;
        }
        GDALClose(ds);
    }
}

TEST(ExportFailure, AStopAskedForLeavesTheEarlierFileAndNothingElse)
{
    TempWorkDir work;
    // What a killed export left: its lock file and what GDAL wrote beside it.
    const QString killed = testsupport::temporaryNameOf(testsupport::endedProcessId());
    for (const char* suffix : {"", ".out", ".out.ovr.tmp", ".out-journal"}) {
        TempWorkDir::write(killed + QString::fromLatin1(suffix), "leftover");
    }
    const QByteArray tile = testsupport::makeGif(1999, 1999);
    TempWorkDir::writeTiles({"IDA_E_B48!00L10!00Z45.gif", "IDA_E_B48!00L11!00Z45.gif"}, tile);
    for (const char* output : {"region.tif", "region.mbtiles"}) {
        SCOPED_TRACE(output);
        const QString name = QString::fromLatin1(output);
        TempWorkDir::write(name, "the earlier export");
        const auto tiles =
            mapexport::chooseTiles(mapexport::scanFolder(common::TileFolder::lookUp()).tiles, {});
        ASSERT_TRUE(tiles);
        int calls = 0;
        const auto stop = [](double, const char*, void* data) -> int {
            return ++*static_cast<int*>(data) < 3 ? TRUE : FALSE; // as after SIGTERM
        };
        const auto written = mapexport::writeExport(
            mapexport::planMosaic(*tiles, mapexport::exactCentres(*tiles)),
            *mapexport::formatOf(name), name, QStringLiteral("test region"), stop, &calls);
        EXPECT_FALSE(written.ok());
        EXPECT_EQ(TempWorkDir::read(name), "the earlier export");
        EXPECT_TRUE(QDir().entryList(QDir::Files | QDir::Hidden).filter(u".~").isEmpty())
            << QDir().entryList(QDir::Files | QDir::Hidden).join(u' ').toStdString();
    }
}

// A picture of one colour, as a GIF through GDAL.
void writeSolidGif(const char* path, int side, std::array<short, 3> rgb)
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
bool near(const QColor& a, const QColor& b)
{
    return std::abs(a.red() - b.red()) < 12 && std::abs(a.green() - b.green()) < 12 &&
           std::abs(a.blue() - b.blue()) < 12 && a.alpha() == b.alpha();
}

// The colour of an export GDAL reads at |lon|, |lat|: Web Mercator (|mercator|) or degrees. A
// longitude past the file's east edge is taken a turn further west, and one before its west edge
// a turn further east: whichever the file holds.
std::array<std::uint8_t, 4> colourIn(GDALDatasetH ds, bool mercator, double lon, double lat)
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

// A tile whose name puts it anywhere a name can (to 540 degrees either way) is in every format
// where the GeoTIFF shows it: the GeoTIFF at the named longitude, the others a whole turn away
// where need be.
TEST(ExportAtAnyLongitude, EveryFormatHoldsTheTileWhereTheGeoTiffDoes)
{
    GDALAllRegister();
    const std::array<std::uint8_t, 4> red{240, 30, 30, 255};
    for (const char* longitude : {"-179!99", "-181!00", "190!00", "-360!00", "181!66", "539!99"}) {
        SCOPED_TRACE(longitude);
        TempWorkDir work;
        ASSERT_TRUE(QDir().mkdir(QStringLiteral("mymaps")));
        const std::string tile = std::string("mymaps/IDA_E_B48!50L") + longitude + "Z45.gif";
        writeSolidGif(tile.c_str(), 200, {240, 30, 30});
        const mapexport::Scan scan = mapexport::scanFolder(common::TileFolder::lookUp());
        ASSERT_EQ(scan.tiles.size(), 1u);
        const auto centres = mapexport::exactCentres(scan.tiles);
        const mapexport::Mosaic mosaic = mapexport::planMosaic(scan.tiles, centres);
        const double lat = centres[0].latitude;
        const double named = centres[0].longitude;
        const double lon = named - 360 * std::round(named / 360);
        for (const char* output : {"x.tif", "x.mbtiles", "x.gpkg", "x.sqlitedb", "x.kmz"}) {
            SCOPED_TRACE(output);
            const QString name = QString::fromLatin1(output);
            ASSERT_TRUE(
                mapexport::writeExport(mosaic, *mapexport::formatOf(name), name, name).ok());
            if (name.endsWith(u".sqlitedb")) {
                const SqlitedbReader file(output);
                EXPECT_EQ(file.at(lon, lat, file.maxZoom), QColor(240, 30, 30));
            } else if (name.endsWith(u".kmz")) {
                EXPECT_TRUE(near(KmzFile(name).at(lon, lat), QColor(240, 30, 30)));
            } else {
                GDALDatasetH ds = GDALOpen(output, GA_ReadOnly);
                ASSERT_NE(ds, nullptr);
                const bool degrees = name.endsWith(u".tif");
                EXPECT_EQ(colourIn(ds, !degrees, degrees ? named : lon, lat), red);
                GDALClose(ds);
            }
        }
    }
}

TEST(ExportAcross180, EachSideLandsAtItsOwnLongitudeInEveryFormat)
{
    TempWorkDir work;
    GDALAllRegister();
    // Two tiles a degree wide at 60 N: red west of 180 degrees, blue east of it.
    writeSolidGif("west.gif", 200, {240, 30, 30});
    writeSolidGif("east.gif", 200, {30, 30, 240});
    const std::vector<mapexport::Centre> centres{{60.5, 179.5}, {60.5, 180.5}};
    std::vector<mapexport::Tile> tiles(2);
    for (int i = 0; i < 2; ++i) {
        tiles[i].path =
            QFileInfo(QString::fromLatin1(i == 0 ? "west.gif" : "east.gif")).absoluteFilePath();
        tiles[i].width = tiles[i].height = 200;
        tiles[i].mapType = 1;
        tiles[i].zoom = 45 * 1999 / 200.0;
    }
    const mapexport::Mosaic mosaic = mapexport::planMosaic(tiles, centres);
    {
        ASSERT_TRUE(mapexport::writeExport(mosaic, mapexport::Format::SQLiteDB,
                                           QStringLiteral("across.sqlitedb"), QStringLiteral("x"))
                        .ok());
        const SqlitedbReader file("across.sqlitedb");
        EXPECT_EQ(file.minZoom, 0);
        ASSERT_EQ(file.maxZoom, 9);
        EXPECT_EQ(file.at(179.5, 60.5, 9), QColor(240, 30, 30));
        EXPECT_EQ(file.at(-179.5, 60.5, 9), QColor(30, 30, 240));
        EXPECT_EQ(file.at(178.5, 60.5, 9).alpha(), 0);
        // The coarsest tile holds both sides, each in its own edge pixel, partly covered.
        const QColor west = file.at(179.9, 60.5, 0);
        const QColor east = file.at(-179.9, 60.5, 0);
        EXPECT_GT(west.alpha(), 0);
        EXPECT_GT(west.red(), west.blue());
        EXPECT_GT(east.alpha(), 0);
        EXPECT_GT(east.blue(), east.red());
    }
    {
        ASSERT_TRUE(mapexport::writeExport(mosaic, mapexport::Format::KMZ,
                                           QStringLiteral("across.kmz"), QStringLiteral("x"))
                        .ok());
        const KmzFile file(QStringLiteral("across.kmz"));
        EXPECT_EQ(file.firstEntry, "doc.kml");
        ASSERT_EQ(file.overlays.size(), 2) << "split at 180 degrees";
        for (const auto& o : file.overlays) {
            EXPECT_EQ(o.drawOrder, 50);
            EXPECT_LE(o.east - o.west, 1.0 + 1e-9);
            EXPECT_GE(o.west, -180);
            EXPECT_LE(o.east, 180);
        }
        EXPECT_TRUE(near(file.at(179.5, 60.5), QColor(240, 30, 30)));
        EXPECT_TRUE(near(file.at(-179.5, 60.5), QColor(30, 30, 240)));
    }
    for (const char* output : {"across.tif", "across.mbtiles", "across.gpkg"}) {
        SCOPED_TRACE(output);
        const QString name = QString::fromLatin1(output);
        ASSERT_TRUE(mapexport::writeExport(mosaic, *mapexport::formatOf(name), name, name).ok());
        GDALDatasetH ds = GDALOpen(output, GA_ReadOnly);
        ASSERT_NE(ds, nullptr);
        double t[6];
        ASSERT_EQ(GDALGetGeoTransform(ds, t), CE_None);
        const auto colourAt = [&](double lon, double lat) {
            return colourIn(ds, !name.endsWith(u".tif"), lon, lat);
        };
        const std::array<std::uint8_t, 4> red{240, 30, 30, 255};
        const std::array<std::uint8_t, 4> blue{30, 30, 240, 255};
        EXPECT_EQ(colourAt(179.5, 60.5), red);
        EXPECT_EQ(colourAt(179.99, 60.1), red);
        EXPECT_EQ(colourAt(-179.5, 60.5), blue);
        EXPECT_EQ(colourAt(-179.99, 60.9), blue);
        if (name.endsWith(u".mbtiles")) {
            // Across 180 degrees the bounds take every longitude, the centre stays on the region.
            const char* bounds = GDALGetMetadataItem(ds, "bounds", nullptr);
            ASSERT_NE(bounds, nullptr);
            EXPECT_STREQ(bounds, "-180.000000,60.000000,180.000000,61.000000");
            EXPECT_STREQ(GDALGetMetadataItem(ds, "center", nullptr), "180.000000,60.500000,5");
            EXPECT_STREQ(GDALGetMetadataItem(ds, "minzoom", nullptr), "0");
            EXPECT_STREQ(GDALGetMetadataItem(ds, "maxzoom", nullptr), "9");
        }
        GDALClose(ds);
    }
}

TEST(KmzLayout, ImagesWithinTheLimitsAndOnlyWhereTilesAre)
{
    // A mosaic of 3000 x 2500 pixels, a degree a thousand pixels, with a tile in the north-west
    // and one in the south-east corner.
    mapexport::Mosaic m;
    m.transform = {10, 0.001, 0, 50, 0, -0.001};
    m.width = 3000;
    m.height = 2500;
    m.pieces = {{QString(), 1000, 1000, {}, QRect(0, 0, 1000, 1000)},
                {QString(), 1000, 1000, {}, QRect(2000, 1500, 1000, 1000)}};
    const struct {
        int maxImages;
        int factor;
        std::size_t images;
    } cases[] = {{100, 1, 5}, {4, 2, 4}, {3, 4, 1}};
    for (const auto& c : cases) {
        const mapexport::KmzLayout layout = mapexport::kmzLayout(m, c.maxImages);
        EXPECT_EQ(layout.ownCount, 5) << "of 9 cells of 1024 pixels, 5 hold a tile";
        EXPECT_EQ(layout.factor, c.factor) << c.maxImages;
        ASSERT_EQ(layout.images.size(), c.images) << c.maxImages;
        for (const auto& image : layout.images) {
            EXPECT_LE(std::max(image.width, image.height), mapexport::kmzImageSide);
            EXPECT_DOUBLE_EQ(image.west, 10 + image.window.left() * 0.001);
            EXPECT_DOUBLE_EQ(image.north, 50 - image.window.top() * 0.001);
        }
    }
}

} // namespace
