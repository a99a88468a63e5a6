// Pictures cut from rasters that GDAL reads: where things land, across +-180 degrees, where the
// raster has no data, and sources that cannot be used.
#include "geotiffwriter.h"
#include "mapservice/draw/palette.h"
#include "mapservice/draw/render.h"
#include "mapservice/http/answer.h"
#include "mapservice/protocol/geometry.h"
#include "mapservice/sources/sources.h"
#include "serviceloop.h"
#include "tempworkdir.h"
#include "testshores.h"

#include <QString>

#include <gtest/gtest.h>

#include <gdal.h>

#include <array>
#include <cmath>
#include <functional>
#include <string>

namespace {

using namespace mapservice;

using Paint = std::function<Rgb(double x, double y)>; // in the raster's coordinates

// Writes an RGB GeoTIFF of |width| x |height| pixels in EPSG:|epsg| with its top-left corner
// at |west|, |north| and square pixels of |size|; each pixel gets |paint| of its centre.
std::string geotiff(const std::string& name, int epsg, double west, double north, double size,
                    int width, int height, const Paint& paint)
{
    EXPECT_TRUE(testsupport::writeGeotiff(
        name, epsg, west, north, size, size, width, height, [&](int column, int row) {
            const Rgb c = paint(west + (column + 0.5) * size, north - (row + 0.5) * size);
            return std::array<std::uint8_t, 3>{c.r, c.g, c.b};
        }));
    return name;
}

Picture draw(const Source& source, const MapRequest& request)
{
    auto result = drawNow(source, request);
    if (!result) {
        ADD_FAILURE() << result.error().text;
        return {IndexedImage(1, 1, 0), {{0, 0, 0}}, {}, {}};
    }
    return std::move(result).value();
}

Rgb at(const Picture& p, int x, int y)
{
    return p.palette[p.image.at(x, y)];
}

constexpr Rgb black{0, 0, 0};
constexpr Rgb green{0, 255, 0}; // a colour the drawn map has not
constexpr Rgb red{220, 30, 30};
constexpr Rgb blue{30, 30, 220};

// Mercator metres of a longitude and latitude.
double mercatorX(double lon)
{
    return lon * 20037508.342789244 / 180;
}
double mercatorY(double lat)
{
    return std::log(std::tan(M_PI / 4 + lat * M_PI / 360)) * 6378137.0;
}

struct MarkCase {
    const char* name;
    int epsg;
    double lat;
    double lon;
};

class MarkLandsWhereTheGeometrySays : public ::testing::TestWithParam<MarkCase> {};

TEST_P(MarkLandsWhereTheGeometrySays, WithinAPixel)
{
    const MarkCase c = GetParam();
    testsupport::TempWorkDir work;
    // A black raster with a green mark of 0.02 degrees around (lat, lon).
    const bool mercator = c.epsg == 3857;
    const double size = mercator ? 200 : 0.002;
    const double west = mercator ? mercatorX(c.lon - 2) : c.lon - 2;
    const double north = mercator ? mercatorY(c.lat + 2) : c.lat + 2;
    const int pixels =
        mercator ? static_cast<int>((mercatorY(c.lat + 2) - mercatorY(c.lat - 2)) / size) : 2000;
    const std::string file = geotiff(
        "mark.tif", c.epsg, west, north, size, mercator ? 2226 : 2000, pixels,
        [&](double x, double y) {
            const double lon = mercator ? x * 180 / 20037508.342789244 : x;
            const double lat =
                mercator ? (2 * std::atan(std::exp(y / 6378137.0)) - M_PI / 2) * 180 / M_PI : y;
            return std::fabs(lon - c.lon) < 0.01 && std::fabs(lat - c.lat) < 0.01 ? green : black;
        });
    SourceTable table(testShores(), testsupport::onServiceLoop());
    ASSERT_TRUE(table.add(file).ok());
    // A picture of 3 degrees, 0.0015 degrees a pixel, its centre off the mark.
    const MapRequest request{{c.lat + 0.3, c.lon - 0.4}, 135, 1999, 1999, "EUR0407", {}};
    const Picture picture = draw(table, request);
    const Geometry g(request);
    double sumX = 0;
    double sumY = 0;
    int count = 0;
    for (int y = 0; y < g.height; ++y) {
        for (int x = 0; x < g.width; ++x) {
            const Rgb p = at(picture, x, y);
            if (p.g > 128 && p.r < 64 && p.b < 64) {
                sumX += x + 0.5;
                sumY += y + 0.5;
                ++count;
            }
        }
    }
    ASSERT_GT(count, 50) << "the mark is missing";
    EXPECT_NEAR(sumX / count, g.x(c.lon), 1.0);
    EXPECT_NEAR(sumY / count, g.y(c.lat), 1.0);
}

INSTANTIATE_TEST_SUITE_P(Places, MarkLandsWhereTheGeometrySays,
                         ::testing::Values(MarkCase{"EquatorGeographic", 4326, 0.5, 10.25},
                                           MarkCase{"SixtyNorthGeographic", 4326, 60.25, 10.25},
                                           MarkCase{"EquatorMercator", 3857, 0.5, 10.25},
                                           MarkCase{"SixtyNorthMercator", 3857, 60.25, 10.25}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RasterSource, APictureAcross180IsWholeOnBothSides)
{
    testsupport::TempWorkDir work;
    // The whole world: the western hemisphere red, the eastern one blue.
    const std::string file = geotiff("world.tif", 4326, -180, 90, 0.5, 720, 360,
                                     [](double lon, double) { return lon < 0 ? red : blue; });
    SourceTable table(testShores(), testsupport::onServiceLoop());
    ASSERT_TRUE(table.add(file).ok());
    for (const double centre : {180.0, -180.0, 540.0}) {
        const MapRequest request{{10, centre}, 450, 400, 200, "EUR0407", {}}; // 10 degrees wide
        const Picture picture = draw(table, request);
        EXPECT_EQ(at(picture, 10, 100), blue) << centre << ": west of the date line";
        EXPECT_EQ(at(picture, 390, 100), red) << centre << ": east of the date line";
        EXPECT_EQ(at(picture, 202, 100), red) << centre;
        EXPECT_EQ(at(picture, 197, 100), blue) << centre;
    }
}

TEST(RasterSource, APictureWiderThanTheWorldRepeatsIt)
{
    testsupport::TempWorkDir work;
    const std::string file = geotiff("world.tif", 4326, -180, 90, 0.5, 720, 360,
                                     [](double lon, double) { return lon < 0 ? red : blue; });
    SourceTable table(testShores(), testsupport::onServiceLoop());
    ASSERT_TRUE(table.add(file).ok());
    // One degree a pixel, 720 pixels across, centred on 0: two worlds side by side.
    const MapRequest wide{{0, 0}, 45.0 * 1999, 720, 100, "EUR0407", {}};
    const Picture picture = draw(table, wide);
    const Geometry g(wide);
    ASSERT_NEAR(g.lonAt(720) - g.lonAt(0), 720, 1e-6);
    for (const double lon : {-270.0, -90.0, 90.0, 270.0}) {
        const Rgb expected = std::remainder(lon, 360.0) < 0 ? red : blue;
        EXPECT_EQ(at(picture, static_cast<int>(g.x(lon)), 50), expected) << lon;
    }
}

TEST(RasterSource, WhereTheRasterHasNoDataTheDrawnMapShows)
{
    testsupport::TempWorkDir work;
    const std::string file =
        geotiff("small.tif", 4326, 10, 50, 0.01, 100, 100, [](double, double) { return red; });
    SourceTable table(testShores(), testsupport::onServiceLoop());
    ASSERT_TRUE(table.add(file).ok());
    const DrawnSource drawn(testShores());
    // Beside the raster: exactly the drawn picture.
    const MapRequest away{{40, -30}, 150, 320, 320, "EUR0407", {}};
    const Picture fromTable = draw(table, away);
    MapRequest awayWithoutLegend = away; // a real source's pictures have none by default
    awayWithoutLegend.legend = false;
    const Picture fromDrawn = draw(drawn, awayWithoutLegend);
    for (int y = 0; y < 320; y += 7) {
        for (int x = 0; x < 320; x += 7) {
            ASSERT_EQ(at(fromTable, x, y), at(fromDrawn, x, y)) << x << "," << y;
        }
    }
    // Over it: the raster inside, the drawn map around, the legend, when asked for, on top.
    ASSERT_TRUE(table.addLegend("full").ok());
    const MapRequest over{{49.5, 10.5}, 45 * 4, 1999, 1999, "EUR0407", {}}; // 4 degrees
    const Picture mixed = draw(table, over);
    const Geometry g(over);
    EXPECT_EQ(at(mixed, static_cast<int>(g.x(10.5)), static_cast<int>(g.y(49.5))), red);
    EXPECT_NE(at(mixed, static_cast<int>(g.x(9.5)), static_cast<int>(g.y(49.5))), red);
    const Legend legend = legendBox(g, over);
    EXPECT_EQ(at(mixed, legend.x + 1, legend.y + 1),
              at(draw(drawn, over), legend.x + 1, legend.y + 1));
}

TEST(RasterSource, TheStartupPreviewOfARegionalSourceStaysAMap)
{
    // The downloader's start-up picture spans about 178 degrees and must be 3000 bytes or more
    // to count as a connection: a source covering only the Alps, in one flat colour, leaves the
    // rest to the drawn map.
    testsupport::TempWorkDir work;
    const std::string file =
        geotiff("alps.tif", 4326, 5, 48, 0.01, 1000, 300, [](double, double) { return red; });
    SourceTable table(testShores(), testsupport::onServiceLoop());
    ASSERT_TRUE(table.add(file).ok());
    const Answer preview = answerMapRequest(
        "CenP=%2047.651931,%209.476379&Lang=EURO809&Alti=%2050000&Size=320,320", table);
    ASSERT_EQ(preview.status, 200) << preview.body;
    EXPECT_GT(preview.body.size(), 3000u);
}

struct TableCase {
    const char* name;
    std::vector<std::string> arguments;
    const char* code;
    bool fromRaster; // the picture comes from the raster, not the drawn map
};

class SourcesByMapCode : public ::testing::TestWithParam<TableCase> {};

TEST_P(SourcesByMapCode, CodeBeforeGeneralBeforeDrawn)
{
    testsupport::TempWorkDir work;
    geotiff("red.tif", 4326, -180, 90, 1, 360, 180, [](double, double) { return red; });
    SourceTable table(testShores(), testsupport::onServiceLoop());
    for (const std::string& argument : GetParam().arguments) {
        ASSERT_TRUE(table.add(argument).ok()) << argument;
    }
    const Picture picture = draw(table, {{20, 20}, 450, 100, 100, GetParam().code, {}});
    EXPECT_EQ(at(picture, 50, 50) == red, GetParam().fromRaster);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, SourcesByMapCode,
    ::testing::Values(TableCase{"NoneIsDrawn", {}, "EUR0407", false},
                      TableCase{"General", {"red.tif"}, "WLD0407", true},
                      TableCase{"Type1", {"type1=red.tif"}, "EURO809", true},
                      TableCase{"Type1NotType2", {"type1=red.tif"}, "WLD0407", false},
                      TableCase{"CodeWins", {"red.tif", "USA407=drawn"}, "USA407", false},
                      TableCase{"OrderDoesNotMatter", {"USA407=drawn", "red.tif"}, "USA407", false},
                      TableCase{"Type2", {"type2=red.tif"}, "WLD0407", true},
                      TableCase{"UnknownCodeTakesTheGeneral", {"red.tif"}, "XYZ", true}),
    [](const auto& info) { return std::string(info.param.name); });

// The width of the legend's box in a picture, read off its top row.
TEST(Attribution, EveryPictureCarriesItsSourcesCreditAndALegendOnlyWhereAsked)
{
    testsupport::TempWorkDir work;
    geotiff("credited.tif", 4326, -180, 90, 1, 360, 180, [](double, double) { return red; });
    GDALDatasetH ds = GDALOpen("credited.tif", GA_Update);
    GDALSetMetadataItem(ds, "TIFFTAG_COPYRIGHT", "© Test Maps", nullptr);
    GDALClose(ds);
    geotiff("plain.tif", 4326, -180, 90, 1, 360, 180, [](double, double) { return red; });
    const std::string query = "CenP=20,20&Alti=450&Size=400,300&Lang=EUR0407";
    const MapRequest request{{20, 20}, 450, 400, 300, "EUR0407", {}};
    const struct {
        std::vector<std::string>
            arguments; // --source, then --attribution after "|", --legend after "#"
        const char* credit;
        bool legend;
    } cases[] = {
        {{}, "Shorelines: GSHHG", true},
        {{"plain.tif"}, "", false},
        {{"credited.tif"}, "© Test Maps", false},
        {{"credited.tif", "|© OpenStreetMap contributors"}, "© OpenStreetMap contributors", false},
        {{"plain.tif", "|type2=© OpenStreetMap contributors"}, "", false},
        {{"plain.tif", "|<b>© A</b>\n\tB"}, "© A B", false},
        {{"credited.tif", "#full"}, "© Test Maps", true},
        {{"#none"}, "Shorelines: GSHHG", false},
        {{"#type1=none"}, "Shorelines: GSHHG", false},
        {{"#type2=none"}, "Shorelines: GSHHG", true},
        {{"|Drawn by the club"}, "Drawn by the club", true}, // the drawn map without --source
    };
    for (const auto& c : cases) {
        SourceTable table(testShores(), testsupport::onServiceLoop());
        for (const std::string& argument : c.arguments) {
            if (argument.front() == '|') {
                table.addAttribution(argument.substr(1));
            } else if (argument.front() == '#') {
                EXPECT_TRUE(table.addLegend(argument.substr(1)).ok()) << argument;
            } else {
                EXPECT_TRUE(table.add(argument).ok()) << argument;
            }
        }
        const Answer answer = answerMapRequest(query, table);
        ASSERT_EQ(answer.status, 200) << answer.body;
        EXPECT_EQ(answer.credit, c.credit) << c.arguments.size();
        // The legend's corner has the legend's own background, or whatever the map has there.
        const Legend box = legendBox(Geometry(request), request);
        EXPECT_EQ(at(draw(table, request), box.x + 1, box.y + 1) ==
                      paletteFor(request.mapcode)[legendBack],
                  c.legend)
            << c.credit;
    }
    SourceTable table(testShores(), testsupport::onServiceLoop());
    EXPECT_FALSE(table.addLegend("some").ok());
    EXPECT_FALSE(table.addLegend("EUR0408=full").ok());
}

// A file replaced by a rename, or rewritten in place, is drawn anew by the next picture, under
// a new tag; a new service gives the same file the same tag.
TEST(RasterSource, AReplacedFileIsDrawnAnewUnderANewTag)
{
    testsupport::TempWorkDir work;
    const auto paint = [](Rgb colour) { return [colour](double, double) { return colour; }; };
    geotiff("live.tif", 4326, -180, 90, 1, 360, 180, paint(red));
    const MapRequest request{{20, 20}, 150, 64, 64, "EUR0407", {}};
    const auto drawnNow = [&request](const SourceTable& table) {
        const Freshness fresh = table.freshness(request, nullptr); // before drawing, as served
        Answer answer = drawAnswer(request, table, nullptr);
        cachedBy(answer, request, fresh);
        const Picture picture = draw(table, request);
        return std::pair{at(picture, 32, 32), answer.etag};
    };
    SourceTable table(testShores(), testsupport::onServiceLoop());
    ASSERT_TRUE(table.add("live.tif").ok());
    const auto [first, firstTag] = drawnNow(table);
    EXPECT_EQ(first, red);

    geotiff("new.tif", 4326, -180, 90, 1, 360, 180, paint(blue));
    ASSERT_EQ(std::rename("new.tif", "live.tif"), 0);
    const auto [renamed, renamedTag] = drawnNow(table);
    EXPECT_EQ(renamed, blue);
    EXPECT_NE(renamedTag, firstTag);

    geotiff("live.tif", 4326, -180, 90, 1, 360, 180, paint(green)); // in place
    const auto [rewritten, rewrittenTag] = drawnNow(table);
    EXPECT_EQ(rewritten, green);
    EXPECT_NE(rewrittenTag, renamedTag);

    SourceTable restarted(testShores(), testsupport::onServiceLoop());
    ASSERT_TRUE(restarted.add("live.tif").ok());
    EXPECT_EQ(drawnNow(restarted), std::pair(green, rewrittenTag));
}

struct RefusedCase {
    const char* argument;
    const char* reasonPart;
};

class RefusedSource : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(RefusedSource, NamesTheArgumentAndSaysWhy)
{
    testsupport::TempWorkDir work;
    testsupport::TempWorkDir::write(QStringLiteral("notes.txt"), "not a raster");
    SourceTable table(testShores(), testsupport::onServiceLoop());
    const auto added = table.add(GetParam().argument);
    ASSERT_FALSE(added.ok());
    const std::string& reason = added.error().text;
    EXPECT_NE(reason.find(std::string("--source ") + GetParam().argument), std::string::npos)
        << reason;
    EXPECT_NE(reason.find(GetParam().reasonPart), std::string::npos) << reason;
    EXPECT_EQ(added.error().status, 2);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, RefusedSource,
    ::testing::Values(
        RefusedCase{"missing.tif", "cannot be opened: No such file or directory"},
        RefusedCase{"notes.txt", "cannot be opened: it is in no raster format GDAL reads"},
        RefusedCase{"type1=missing.tif", "No such file or directory"},
        RefusedCase{"EUR0408=drawn", "EUR0408 is no map code"},
        RefusedCase{"type3=drawn", "type3 is no map code"}, RefusedCase{"EUR0407=", "no source"},
        RefusedCase{"xyz:https://tiles.example.org/tile.png", "{z}, {x} and {y}"},
        RefusedCase{"wms:https://maps.example.org/wms?FORMAT=image/png", "LAYERS"},
        RefusedCase{"tms:https://t.example.org/a#tilesize=300", "256 or 512"},
        RefusedCase{"xyz:https://{s}.t.example.org/{z}/{x}/{y}.png", "#subdomains"},
        RefusedCase{"xyz:https://t.example.org/{z}/{x}/{y}.png#layer=a", "layer=a is none of them"},
        RefusedCase{"nosuch:https://t.example.org/a", "no kind of source"},
        RefusedCase{"arcgis:https://t.example.org/rest/services/a/FeatureServer",
                    "ends in /MapServer or /ImageServer"}));

TEST(RemoteSources, AreAcceptedWithoutBeingContacted)
{
    RemoteOptions remote;
    remote.cacheFolder = ::testing::TempDir() + "remote-cache";
    SourceTable table(testShores(), testsupport::onServiceLoop(remote));
    EXPECT_TRUE(table.add("xyz:http://127.0.0.1:9/{z}/{x}/{y}.png").ok());
    EXPECT_TRUE(table.add("type2=wms:http://127.0.0.1:9/wms?LAYERS=topo").ok());
    EXPECT_TRUE(table.add("USA407=arcgis:http://127.0.0.1:9/rest/services/a/ImageServer").ok());
    EXPECT_TRUE(table.addMaxZoom("EUR0407=4").ok());
    EXPECT_FALSE(table.addMaxZoom("EUR0407=25").ok());
    EXPECT_FALSE(table.addMaxZoom("EUR0408=4").ok());
    // A source that cannot be made leaves the table as it was, and later options are taken.
    EXPECT_FALSE(table.add("EURO809=missing.tif").ok());
    EXPECT_TRUE(table.addMaxZoom("EURO809=5").ok());
}

} // namespace
