// Tiles made by the project's own map service from a GeoTIFF with a known pattern, exported as
// one file and read back with GDAL: a known coordinate lands where it belongs, within one tile
// pixel, in both formats.
#include "buildpaths.h"
#include "common/errortext.h"
#include "common/tilefolder.h"
#include "common/worldfile.h"
#include "exportreaders.h"
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
#include <optional>
#include <sqlite3.h>
#include <sys/stat.h>

namespace {

using testsupport::TempWorkDir;

using testsupport::earthRadius;
using testsupport::pi;

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
            s.centre.latitude = lat0 - i * step + 0.000001;
            s.centre.longitude = lon0 + j * step + 0.000001;
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
            const auto place = common::pictureGeoTransform(s.centre, zoom, pelagrin::largeSide,
                                                           pelagrin::largeSide);
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
    testsupport::ServiceProcess service(testsupport::program("mapservice"),
                                        {"--source", "type1=" + source});
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
    std::vector<mapexport::Tile> tiles =
        testsupport::pictureTiles({"t.gif", "t.gif", "t.gif"}, 200);
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

} // namespace
