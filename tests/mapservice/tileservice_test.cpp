// Reading what WMTS and tiled map services say about their grids, and the tiles a picture takes
// from such a grid.
#include "mapservice/protocol/outsidecrs.h"
#include "mapservice/protocol/tileservice.h"
#include "mapservice/protocol/urltemplate.h"

#include <gtest/gtest.h>

#include <ogr_srs_api.h>

#include <cmath>
#include <memory>

namespace {

using namespace mapservice;

// A capabilities document: |layers| (each a <Layer>), one tile matrix set "grid" in |crs| with
// one matrix whose top-left corner is |corner|.
std::string capabilities(const std::string& layers, const std::string& crs = "EPSG:3857",
                         const std::string& corner = "-20037508.342789 20037508.342789",
                         const std::string& scale = "559082264.0287178",
                         const std::string& width = "1")
{
    return R"(<?xml version="1.0"?>
<Capabilities xmlns="http://www.opengis.net/wmts/1.0" xmlns:ows="http://www.opengis.net/ows/1.1"
  xmlns:xlink="http://www.w3.org/1999/xlink" version="1.0.0">
 <ows:OperationsMetadata><ows:Operation name="GetTile"><ows:DCP><ows:HTTP>
  <ows:Get xlink:href="http://tiles.example/kvp?"><ows:Constraint name="GetEncoding">
   <ows:AllowedValues><ows:Value>KVP</ows:Value></ows:AllowedValues></ows:Constraint></ows:Get>
 </ows:HTTP></ows:DCP></ows:Operation></ows:OperationsMetadata>
 <Contents>)" +
           layers +
           R"(
  <TileMatrixSet><ows:Identifier>grid</ows:Identifier>
   <ows:SupportedCRS>)" +
           crs + R"(</ows:SupportedCRS>
   <TileMatrix><ows:Identifier>z0</ows:Identifier><ScaleDenominator>)" +
           scale + R"(</ScaleDenominator>
    <TopLeftCorner>)" +
           corner + R"(</TopLeftCorner><TileWidth>256</TileWidth><TileHeight>256</TileHeight>
    <MatrixWidth>)" +
           width + R"(</MatrixWidth><MatrixHeight>1</MatrixHeight></TileMatrix>
  </TileMatrixSet>
 </Contents>
</Capabilities>)";
}

std::string layer(const std::string& id, const std::string& extra = {})
{
    return "<Layer><ows:Identifier>" + id +
           "</ows:Identifier><Style isDefault=\"true\"><ows:Identifier>normal</ows:Identifier>"
           "</Style><Format>image/png</Format><TileMatrixSetLink><TileMatrixSet>grid"
           "</TileMatrixSet></TileMatrixSetLink>" +
           extra + "</Layer>";
}

SourceParams spec(const std::string& params)
{
    return *splitSourceParams("a wmts: source", "http://tiles.example/wmts" + params,
                              {"layer", "tilematrixset", "style", "format", "hosts"});
}

const std::string world = "<ows:WGS84BoundingBox><ows:LowerCorner>-180 -90</ows:LowerCorner>"
                          "<ows:UpperCorner>180 90</ows:UpperCorner></ows:WGS84BoundingBox>";

std::string withTemplate(const std::string& url)
{
    return R"(<ResourceURL format="image/png" resourceType="tile" template=")" + url + R"("/>)";
}

TEST(WmtsCapabilities, WhatCannotBeUsedIsSaidInOneLine)
{
    const struct {
        std::string document;
        std::string params;
        const char* reason;
    } cases[] = {
        {"<html><body>Maintenance</body></html>", "", "no WMTS capabilities document"},
        {"\x01\x02garbage", "", "no WMTS capabilities document"},
        {capabilities(layer("a") + layer("b")), "", "more than one layer (a, b): name one with"},
        {capabilities(layer("a") + layer("b")), "#layer=c", "no layer c; they offer a, b"},
        {capabilities(layer("a")), "#tilematrixset=utm", "no tile matrix set utm; they offer grid"},
        {capabilities(layer("a")), "#style=dark", "no style dark; they offer normal"},
        {capabilities(layer("a"), "EPSG:999999"), "", "\"EPSG:999999\" is one GDAL does not know"},
        // A description is data: no CRS is fetched or opened, no template runs long, no key
        // goes to another host.
        {capabilities(layer("a"), "http://127.0.0.2:9/crs"), "", "is an address or a file"},
        {capabilities(layer("a"), "/etc/passwd"), "", "is an address or a file"},
        {capabilities(layer("a"), "/vsicurl/http://127.0.0.2:9/x"), "", "is an address or a file"},
        {capabilities(layer("a"), "file:///etc/passwd"), "", "is an address or a file"},
        {capabilities(layer("a", world), "EPSG:3857", "9e9 9e9"), "",
         "off the layer's WGS84BoundingBox in either axis order"},
        {capabilities(
             layer("a", withTemplate("http://127.0.0.2:8/{TileMatrix}/{TileRow}/{TileCol}"))),
         "", "sends its tiles to 127.0.0.2:8, which is not its own host"},
        {capabilities(layer(
             "a", withTemplate("https://tiles.example:8443/{TileMatrix}/{TileRow}/{TileCol}"))),
         "", "sends its tiles to tiles.example:8443"},
        {capabilities(layer(
             "a", withTemplate("http://u:pw@tiles.example/{TileMatrix}/{TileRow}/{TileCol}"))),
         "#hosts=tiles.example", "user name or password"},
        {capabilities(layer("a", "<Dimension><ows:Identifier>T</ows:Identifier><Default>" +
                                     std::string(2000, 'x') + "</Default></Dimension>")),
         "", "dimension T has a default of more than 1 KB"},
        {capabilities(layer("a", withTemplate("http://tiles.example/{TileRow}/{TileCol}/" +
                                              [] {
                                                  std::string many;
                                                  for (int i = 0; i < 600000; ++i) {
                                                      many += "{TileMatrix}";
                                                  }
                                                  return many;
                                              }()))),
         "", "tile addresses are longer than 8192 bytes"},
        {capabilities(layer("a"), "EPSG:3857", "-2e7 2e7", "nan"), "", "no finite number"},
        {capabilities(layer("a"), "EPSG:3857", "-2e7", "5e8"), "", "no finite number"},
        {capabilities(layer("a"), "EPSG:3857", "-2e7 2e7", "5e8", "4294967296"), "",
         "not 1 to 2^31 a side"},
        {capabilities(layer("a"), "EPSG:3857", "-2e7 2e7", "5e8", "9223372036854775808"), "",
         "is no whole number x 1 tiles, not 1 to 2^31 a side"},
        {capabilities(layer("a", R"(<ResourceURL format="image/png" resourceType="tile"
            template="http://t.example/{TileMatrix}/{TileCol}.png"/>)")),
         "", "has no {TileRow}"},
    };
    for (const auto& c : cases) {
        const auto read =
            readWmtsCapabilities(c.document, "http://tiles.example/wmts", spec(c.params));
        ASSERT_FALSE(read.ok()) << c.reason;
        EXPECT_NE(read.error().text.find(c.reason), std::string::npos) << read.error().text;
        EXPECT_EQ(read.error().text.find('\n'), std::string::npos) << read.error().text;
    }
}

TEST(WmtsCapabilities, TheCornerIsReadInTheAxisOrderOfItsCrs)
{
    const struct {
        const char* crs;
        const char* corner;
    } cases[] = {
        {"urn:ogc:def:crs:EPSG::4326", "90 -180"},
        {"urn:ogc:def:crs:EPSG:6.3:4326", "90 -180"},
        {"EPSG:4326", "90 -180"}, // as some servers write it: still latitude first
        {"urn:ogc:def:crs:OGC:1.3:CRS84", "-180 90"},
        {"http://www.opengis.net/def/crs/EPSG/0/4326", "90 -180"},
        {"urn:ogc:def:crs:EPSG:6.18:3:4326", "90 -180"}, // a version with a colon
        // Written the other way round than the CRS declares: the layer's bounds tell.
        {"EPSG:4326", "-180 90"},
        {"urn:ogc:def:crs:OGC:1.3:CRS84", "90 -180"},
    };
    for (const auto& c : cases) {
        const auto read = readWmtsCapabilities(capabilities(layer("a", world), c.crs, c.corner),
                                               "http://tiles.example/wmts", spec(""));
        ASSERT_TRUE(read.ok()) << c.crs << ": " << read.error().text;
        const TileMatrix& m = read->grid.matrices.front();
        EXPECT_DOUBLE_EQ(m.left, -180) << c.crs;
        EXPECT_DOUBLE_EQ(m.top, 90) << c.crs;
        // A scale denominator counts 0.28 mm pixels; a degree is 111319.49 m of the equator.
        EXPECT_NEAR(m.resolution, 1.40625, 1e-6) << c.crs;
    }
}

TEST(WmtsCapabilities, TileUrlsAreRestfulWithDimensionDefaultsOrKvp)
{
    const std::string rest =
        layer("a", R"(<Dimension><ows:Identifier>Time</ows:Identifier><Default>2024-06-01</Default>
        </Dimension><ResourceURL format="image/png" resourceType="tile"
        template="http://t.example/{Style}/{Time}/{TileMatrixSet}/{tilematrix}/{TileRow}/{TileCol}.png"/>)");
    const auto restful =
        readWmtsCapabilities(capabilities(rest), "http://t.example/c.xml", spec(""));
    ASSERT_TRUE(restful.ok()) << restful.error().text;
    EXPECT_EQ(serviceTileUrl(*restful, restful->grid.matrices.front(), 3, 5),
              "http://t.example/normal/2024-06-01/grid/z0/5/3.png");

    // The key the capabilities were asked with goes with GetTile to the same host alone.
    const auto kvp =
        readWmtsCapabilities(capabilities(layer("a b")),
                             "http://tiles.example/wmts?SERVICE=WMTS&apikey=k%2B1", spec(""));
    ASSERT_TRUE(kvp.ok()) << kvp.error().text;
    EXPECT_EQ(serviceTileUrl(*kvp, kvp->grid.matrices.front(), 3, 5),
              "http://tiles.example/kvp?SERVICE=WMTS&REQUEST=GetTile&VERSION=1.0.0&LAYER=a%20b&"
              "STYLE=normal&FORMAT=image%2Fpng&TILEMATRIXSET=grid&apikey=k%2B1&TILEMATRIX=z0&"
              "TILEROW=5&TILECOL=3");
    const std::string elsewhere = "http://t.example/wmts?apikey=k";
    EXPECT_FALSE(readWmtsCapabilities(capabilities(layer("a")), elsewhere, spec("")).ok());
    const auto listed = readWmtsCapabilities(capabilities(layer("a")), elsewhere,
                                             spec("#hosts=other.example, tiles.example"));
    ASSERT_TRUE(listed.ok()) << listed.error().text;
    EXPECT_EQ(serviceTileUrl(*listed, listed->grid.matrices.front(), 0, 0).find("apikey"),
              std::string::npos);
}

// Where the layer offers several, PNG is taken before JPEG before the first, and the set in
// Web Mercator before the first; each choice is said.
TEST(WmtsCapabilities, SeveralFormatsOrSetsTakeTheDefaultsViewersTake)
{
    const auto formats = [](std::initializer_list<const char*> offered) {
        std::string out;
        for (const char* f : offered) {
            out += std::string("<Format>") + f + "</Format>";
        }
        std::string a = layer("a");
        return a.replace(a.find("<Format>image/png</Format>"), 26, out);
    };
    const auto twoSets = [](const std::string& crs) {
        std::string doc = capabilities(
            "<Layer><ows:Identifier>a</ows:Identifier><Format>image/png</Format>"
            "<TileMatrixSetLink><TileMatrixSet>utm</TileMatrixSet></TileMatrixSetLink>"
            "<TileMatrixSetLink><TileMatrixSet>grid</TileMatrixSet></TileMatrixSetLink></Layer>"
            "<TileMatrixSet><ows:Identifier>utm</ows:Identifier><ows:SupportedCRS>EPSG:25832"
            "</ows:SupportedCRS><TileMatrix><ows:Identifier>u0</ows:Identifier><ScaleDenominator>"
            "1e7</ScaleDenominator><TopLeftCorner>-46133 6301219</TopLeftCorner><TileWidth>256"
            "</TileWidth><TileHeight>256</TileHeight><MatrixWidth>1</MatrixWidth><MatrixHeight>"
            "1</MatrixHeight></TileMatrix></TileMatrixSet>",
            crs);
        return doc;
    };
    const struct {
        std::string document;
        const char* format;
        const char* set;
    } cases[] = {
        {capabilities(formats({"image/jpeg", "image/png"})), "image/png", "grid"},
        {capabilities(formats({"image/tiff", "image/jpeg"})), "image/jpeg", "grid"},
        {capabilities(formats({"image/tiff", "image/gif"})), "image/tiff", "grid"},
        {twoSets("urn:ogc:def:crs:EPSG:6.18:3:3857"), "image/png", "grid"},
        {twoSets("EPSG:4326"), "image/png", "utm"},
    };
    for (const auto& c : cases) {
        const auto read = readWmtsCapabilities(c.document, "http://tiles.example/wmts", spec(""));
        ASSERT_TRUE(read.ok()) << read.error().text;
        const std::string url = serviceTileUrl(*read, read->grid.matrices.front(), 0, 0);
        EXPECT_NE(url.find(percentEncoded(c.format)), std::string::npos) << url;
        EXPECT_NE(url.find(std::string("TILEMATRIXSET=") + c.set), std::string::npos) << url;
        EXPECT_EQ(read->notes.size(), 1u);
    }
}

TEST(UrlTemplate, PlaceholdersAreFilledInOnePassWithinBounds)
{
    const Filling filling{{"tilematrix", "{TileRow}"}, {"tilerow", "5"}};
    const struct {
        const char* text;
        const char* expanded; // nullptr: too long
    } cases[] = {
        {"/{TileMatrix}/{tilerow}/{Other}", "/{TileRow}/5/{Other}"}, // a value is not read again
        {"/{{TileRow}}/{", "/{5}/{"},
        {"/{TileRow}{TileRow}{TileRow}", "/555"},
        {"/{TileRow}{TileRow}{TileRow}{TileRow}{TileRow}{TileRow}{TileRow}{TileRow}{TileRow}"
         "{TileRow}{TileRow}{TileRow}{TileRow}{TileRow}{TileRow}{TileRow}{TileRow}{TileRow}"
         "{TileRow}{TileRow}",
         nullptr},
    };
    for (const auto& c : cases) {
        const auto out = expandTemplate(c.text, filling, 20);
        EXPECT_EQ(out.value_or("(too long)"), c.expanded ? c.expanded : "(too long)") << c.text;
    }
}

TEST(OutsideCrs, EpsgCodesInEveryFormAndNothingFetchedOrOpened)
{
    for (const auto& [text, code] :
         {std::pair{"EPSG:3857", 3857}, std::pair{"urn:ogc:def:crs:EPSG:6.18:3:3857", 3857},
          std::pair{"urn:ogc:def:crs:EPSG::25832", 25832},
          std::pair{"http://www.opengis.net/def/crs/EPSG/0/3035", 3035},
          std::pair{" EPSG:900913 ", 3857}, std::pair{"urn:ogc:def:crs:OGC:1.3:CRS84", 0},
          std::pair{"EPSG:43:26", 0}, std::pair{"/etc/passwd", 0}}) {
        EXPECT_EQ(epsgCodeOf(text), code) << text;
    }
    const auto webMercator = readOutsideCrs("urn:ogc:def:crs:EPSG:6.18:3:3857");
    ASSERT_TRUE(webMercator.ok()) << webMercator.error().text;
    EXPECT_FALSE(webMercator->northingFirst);
    EXPECT_TRUE(readOutsideCrs("EPSG:4326")->northingFirst);
    EXPECT_TRUE(readOutsideCrs(webMercator->wkt).ok()) << "WKT is read as it is";
    for (const char* refused : {"http://127.0.0.2:9/crs", "/dev/stdin", "./crs.wkt",
                                "/vsicurl/http://127.0.0.2/x", "+init=/etc/passwd:x", ""}) {
        EXPECT_FALSE(readOutsideCrs(refused).ok()) << refused;
    }
}

TEST(ArcgisService, LevelsOriginAndExtentMakeTheGrid)
{
    const std::string json = R"({"tileInfo": {"rows": 256, "cols": 256,
        "origin": {"x": -20037508.342787, "y": 20037508.342787},
        "spatialReference": {"wkid": 102100},
        "lods": [{"level": 1, "resolution": 78271.51696399994},
                 {"level": 0, "resolution": 156543.03392799999}]},
        "fullExtent": {"xmin": -20037508.342787, "ymin": -20037508.342787,
                       "xmax": 20037508.342787, "ymax": 20037508.342787}})";
    const auto read = readArcgisService(json, "http://t.example/arcgis/rest/services/a/MapServer");
    ASSERT_TRUE(read.ok()) << read.error().text;
    ASSERT_EQ(read->grid.matrices.size(), 2u);
    EXPECT_EQ(read->grid.matrices[0].id, "0") << "coarsest first";
    EXPECT_EQ(read->grid.matrices[1].maxCol, 1);
    EXPECT_EQ(parentMatrix(read->grid, 1), 0);
    EXPECT_EQ(serviceTileUrl(*read, read->grid.matrices[1], 1, 0),
              "http://t.example/arcgis/rest/services/a/MapServer/tile/1/0/1");
    const auto untiled =
        readArcgisService(R"({"mapName": "Layers"})", "http://t.example/rest/services/a/MapServer");
    ASSERT_FALSE(untiled.ok());
    EXPECT_NE(untiled.error().text.find("no tile cache; its WMS, where it has one, is "
                                        "http://t.example/rest/services/a/MapServer/WMSServer"),
              std::string::npos)
        << untiled.error().text;
    EXPECT_TRUE(isArcgisService(R"({"mapName": "Layers"})")) << "kept, to be refused in a word";
    EXPECT_FALSE(isArcgisService(R"({"error": {"code": 499}})"));
    for (const std::string& bad : {std::string("not json"), std::string(R"({"name": "x"})"),
                                   std::string(R"({"tileInfo": {"spatialReference": {"wkid": 1},
                                      "lods": []}})")}) {
        EXPECT_FALSE(readArcgisService(bad, "http://t.example/MapServer").ok()) << bad;
    }
}

TEST(GridPlan, AsksForTheTilesUnderThePictureAndOneRing)
{
    // EPSG:4326 with 1.40625 / 2^12 degrees a pixel, and a national grid of 125 m a pixel.
    TileGrid geodetic;
    geodetic.crs = "EPSG:4326";
    for (int z = 0; z <= 12; ++z) {
        geodetic.matrices.push_back({std::to_string(z), 1.40625 / std::ldexp(1.0, z), -180, 90, 256,
                                     256, std::int64_t{1} << z, std::int64_t{1} << z});
    }
    TileGrid utm;
    utm.crs = "EPSG:25832";
    for (int z = 0; z <= 5; ++z) {
        const double res = 4000 / std::ldexp(1.0, z);
        utm.matrices.push_back({std::to_string(z), res, 200000, 6224000, 256, 256,
                                std::int64_t{1} << z, std::int64_t{1} << z});
    }
    ASSERT_FALSE(settleGrid(geodetic));
    ASSERT_FALSE(settleGrid(utm));
    MapRequest request;
    request.centre = {50.03, 10.02};
    request.zoom = 90;
    request.width = request.height = 400; // 0.001 degrees a pixel
    const Geometry g(request);
    for (TileGrid* grid : {&geodetic, &utm}) {
        const auto plan = gridPlan(*grid, g, 19, std::int64_t{64} << 20);
        ASSERT_TRUE(plan.ok());
        ASSERT_EQ(plan->ranges.size(), 1u);
        const TileMatrix& m = grid->matrices[static_cast<std::size_t>(plan->matrix)];
        // The tiles under every 20th pixel of the picture, found here point by point.
        std::unique_ptr<std::remove_pointer_t<OGRSpatialReferenceH>,
                        decltype(&OSRDestroySpatialReference)>
            from(OSRNewSpatialReference(nullptr), &OSRDestroySpatialReference);
        std::unique_ptr<std::remove_pointer_t<OGRSpatialReferenceH>,
                        decltype(&OSRDestroySpatialReference)>
            to(OSRNewSpatialReference(nullptr), &OSRDestroySpatialReference);
        OSRSetFromUserInput(from.get(), "EPSG:4326");
        OSRSetFromUserInput(to.get(), grid->crs.c_str());
        OSRSetAxisMappingStrategy(from.get(), OAMS_TRADITIONAL_GIS_ORDER);
        OSRSetAxisMappingStrategy(to.get(), OAMS_TRADITIONAL_GIS_ORDER);
        OGRCoordinateTransformationH transform =
            OCTNewCoordinateTransformation(from.get(), to.get());
        GridRange under{INT64_MAX, INT64_MIN, INT64_MAX, INT64_MIN};
        for (int y = 0; y <= 400; y += 20) {
            for (int x = 0; x <= 400; x += 20) {
                double px = g.lonAt(x);
                double py = g.latAt(y);
                OCTTransform(transform, 1, &px, &py, nullptr);
                const auto col =
                    static_cast<std::int64_t>(std::floor((px - m.left) / (m.resolution * 256)));
                const auto row =
                    static_cast<std::int64_t>(std::floor((m.top - py) / (m.resolution * 256)));
                under = {std::min(under.west, col), std::max(under.east, col),
                         std::min(under.north, row), std::max(under.south, row)};
            }
        }
        OCTDestroyCoordinateTransformation(transform);
        const GridRange& r = plan->ranges.front();
        EXPECT_EQ(r.west, under.west - 1) << grid->crs;
        EXPECT_EQ(r.east, under.east + 1) << grid->crs;
        EXPECT_EQ(r.north, under.north - 1) << grid->crs;
        EXPECT_EQ(r.south, under.south + 1) << grid->crs;
        // The coarsest matrix whose pixels are no larger than the picture's: one coarser
        // would be larger.
        EXPECT_GT(grid->matrices[static_cast<std::size_t>(plan->matrix) - 1].resolution,
                  m.resolution * 1.9);
    }

    // The layer's bounds stop the ring: no tile wholly west of 10 E.
    geodetic.bounds = common::GeoBox{.west = 10.0, .south = -90, .east = 180, .north = 90};
    const auto bounded = gridPlan(geodetic, g, 19, std::int64_t{64} << 20);
    ASSERT_TRUE(bounded.ok());
    const double tile =
        geodetic.matrices[static_cast<std::size_t>(bounded->matrix)].resolution * 256;
    EXPECT_EQ(bounded->ranges.front().west, static_cast<std::int64_t>(std::floor(190 / tile)));

    // A missing tile is taken from the matrix above only where that halves with the same corner.
    EXPECT_EQ(parentMatrix(utm, 3), 2);
    utm.matrices[3].left += 1000;
    EXPECT_EQ(parentMatrix(utm, 3), -1);
    EXPECT_EQ(parentMatrix(utm, 4), -1);
}

} // namespace
