// Exports of tiles on both sides of 180 degrees and wherever a name can put them, read back in
// every format, and the KMZ's division into images.
#include "exportreaders.h"
#include "mapexport/gdalexport.h"
#include "mapexport/kmz.h"
#include "mapexport/mosaic.h"
#include "mapexport/tiles.h"
#include "tempworkdir.h"

#include <QDate>
#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <cpl_error.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

using namespace testsupport;

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
    const std::vector<mapexport::Tile> tiles = pictureTiles({"west.gif", "east.gif"}, 200);
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
        // The layout the caller is told of is the one written.
        std::vector<std::size_t> planned;
        mapexport::ExportSettings settings;
        settings.kmzPlanned = [&planned](const mapexport::KmzLayout& layout) {
            planned.push_back(layout.images.size());
        };
        ASSERT_TRUE(mapexport::writeExport(mosaic, mapexport::Format::KMZ,
                                           QStringLiteral("across.kmz"), QStringLiteral("x"),
                                           nullptr, nullptr, settings)
                        .ok());
        const KmzFile file(QStringLiteral("across.kmz"));
        EXPECT_EQ(file.firstEntry, "doc.kml");
        ASSERT_EQ(file.overlays.size(), 2) << "split at 180 degrees";
        EXPECT_EQ(planned, std::vector<std::size_t>{2});
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
        // GDAL takes the file as it is: no warning (on bounds it cannot use, say).
        std::vector<std::string> warnings;
        CPLPushErrorHandlerEx(
            [](CPLErr type, CPLErrorNum, const char* message) {
                if (type == CE_Warning) {
                    static_cast<std::vector<std::string>*>(CPLGetErrorHandlerUserData())
                        ->emplace_back(message);
                }
            },
            &warnings);
        GDALDatasetH ds = GDALOpen(output, GA_ReadOnly);
        CPLPopErrorHandler();
        EXPECT_TRUE(warnings.empty()) << warnings.front();
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
        const auto planned = mapexport::kmzLayout(m, c.maxImages);
        ASSERT_TRUE(planned.ok());
        const mapexport::KmzLayout& layout = *planned;
        EXPECT_EQ(layout.ownCount, 5) << "of 9 cells of 1024 pixels, 5 hold a tile";
        EXPECT_EQ(layout.factor, c.factor) << c.maxImages;
        ASSERT_EQ(layout.images.size(), c.images) << c.maxImages;
        for (const auto& image : layout.images) {
            EXPECT_LE(std::max(image.width, image.height), mapexport::kmzImageSide);
            EXPECT_DOUBLE_EQ(image.box.west, 10 + image.window.left() * 0.001);
            EXPECT_DOUBLE_EQ(image.box.north, 50 - image.window.top() * 0.001);
        }
    }
}

TEST(KmzLayout, ALimitTheRegionCannotMeetIsBadInputNamingTheLeastItNeeds)
{
    // A strip 200,000 pixels wide, a degree a thousand pixels: four cells even at 1/64.
    mapexport::Mosaic strip;
    strip.transform = {-100, 0.001, 0, 50, 0, -0.001};
    strip.width = 200000;
    strip.height = 1000;
    strip.pieces = {{QString(), 200000, 1000, {}, QRect(0, 0, 200000, 1000)}};
    // Two degrees across 180, which no single image may cross.
    mapexport::Mosaic across = strip;
    across.transform = {179, 0.001, 0, 50, 0, -0.001};
    across.width = 2000;
    across.pieces = {{QString(), 2000, 1000, {}, QRect(0, 0, 2000, 1000)}};
    const struct {
        const mapexport::Mosaic* mosaic;
        int maxImages;
        const char* message; // nullptr: it fits
    } cases[] = {
        {&strip, 4, nullptr},
        {&strip, 3, "--max-images 3 cannot be met: the region needs at least 4 images, at 1/64"},
        {&across, 2, nullptr},
        {&across, 1, "needs at least 2 images, one on each side of 180 degrees"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.maxImages);
        const auto layout = mapexport::kmzLayout(*c.mosaic, c.maxImages);
        ASSERT_EQ(layout.ok(), c.message == nullptr);
        if (!layout) {
            EXPECT_EQ(layout.error().kind, common::ErrorKind::BadInput);
            EXPECT_EQ(layout.error().status, 2);
            EXPECT_NE(layout.error().text.find(c.message), std::string::npos)
                << layout.error().text;
        }
    }
}

TEST(KmzAcross180, ImagesTileTheRegionOnBothSidesAndCarryTheExportsDate)
{
    TempWorkDir work;
    GDALAllRegister();
    // Two tiles about a degree wide, 180 degrees falling within a pixel.
    writeSolidGif("west.gif", 200, {240, 30, 30});
    writeSolidGif("east.gif", 200, {30, 30, 240});
    const double west = 179.4011;
    const std::vector<mapexport::Centre> centres{{60.5, west}, {60.5, west + 1}};
    // 180 degrees is no whole number of their pixels from the west edge.
    const std::vector<mapexport::Tile> tiles =
        pictureTiles({"west.gif", "east.gif"}, 200, 45 * 1999 / 199.37);
    const mapexport::Mosaic mosaic = mapexport::planMosaic(tiles, centres);
    const common::GeoBox region{.west = mosaic.transform[0],
                                .south = mosaic.transform[3] + mosaic.transform[5] * mosaic.height,
                                .east = mosaic.transform[0] + mosaic.transform[1] * mosaic.width,
                                .north = mosaic.transform[3]};
    const QDate today = QDate::currentDate();
    ASSERT_TRUE(mapexport::writeExport(mosaic, mapexport::Format::KMZ, QStringLiteral("a.kmz"),
                                       QStringLiteral("a"))
                    .ok());
    const KmzFile file(QStringLiteral("a.kmz"));
    ASSERT_EQ(file.overlays.size(), 2);
    // The boxes lie within the region (east of 180 shifted by a turn), do not overlap, and
    // cover all of it: their areas add up to the region's.
    double area = 0;
    for (std::size_t i = 0; i < file.overlays.size(); ++i) {
        const auto& o = file.overlays[i];
        ASSERT_FALSE(o.image.isNull()) << "every image opens through /vsizip/";
        const double shift = o.east <= 0 ? 360 : 0;
        EXPECT_GE(o.west + shift, region.west - 1e-9);
        EXPECT_LE(o.east + shift, region.east + 1e-9);
        EXPECT_NEAR(o.north, region.north, 1e-9);
        EXPECT_NEAR(o.south, region.south, 1e-9);
        area += (o.east - o.west) * (o.north - o.south);
        for (std::size_t j = i + 1; j < file.overlays.size(); ++j) {
            const auto& p = file.overlays[j];
            const double shiftP = p.east <= 0 ? 360 : 0;
            const bool apart = o.east + shift <= p.west + shiftP + 1e-9 ||
                               p.east + shiftP <= o.west + shift + 1e-9;
            EXPECT_TRUE(apart) << i << " and " << j << " overlap";
        }
    }
    EXPECT_NEAR(area, (region.east - region.west) * (region.north - region.south), 1e-9);
    // Each entry's date, as a zip keeps it (local file headers, DOS date at byte 12).
    QFile zip(QStringLiteral("a.kmz"));
    ASSERT_TRUE(zip.open(QIODevice::ReadOnly));
    const QByteArray bytes = zip.readAll();
    int entries = 0;
    for (qsizetype at = bytes.indexOf("PK\x03\x04"); at >= 0 && at + 30 <= bytes.size();
         at = bytes.indexOf("PK\x03\x04", at + 4)) {
        const auto date = static_cast<unsigned>(static_cast<unsigned char>(bytes[at + 12]) |
                                                static_cast<unsigned char>(bytes[at + 13]) << 8);
        const QDate stored(static_cast<int>((date >> 9) + 1980), static_cast<int>((date >> 5) & 15),
                           static_cast<int>(date & 31));
        EXPECT_TRUE(stored.isValid());
        EXPECT_LE(std::abs(stored.daysTo(today)), 1);
        ++entries;
    }
    EXPECT_EQ(entries, 3) << "doc.kml and two images";
}

} // namespace
