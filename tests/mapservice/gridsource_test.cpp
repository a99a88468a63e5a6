// Tile services in grids of their own, which a document they serve describes: WMTS and tiled map
// services drawn from their tiles, as real services write their descriptions, and their faults.
#include "xyzfixture.h"

namespace {

using namespace mapservice;

class GridDialects : public testsupport::XyzSource {};

// Capabilities as real services write them: a layer offering two formats and two tile matrix
// sets, Web Mercator the second; the corners written in |corner|'s order; the layer's bounds
// when |bounds|; the north-west tile of each matrix alone when |limited|.
struct Variant {
    bool several = false;
    std::string corner = "-20037508.342789244 20037508.342789244";
    bool bounds = false;
    bool limited = false;
};

// A WMTS and a tiled map service in Web Mercator on 127.0.0.1, whose tiles are the fake tile
// server's (orange at even columns, teal at odd ones): what it answers can be set per test.
class GridServer {
public:
    GridServer()
    {
        http_.server().Get(
            "/wmts/caps.xml", [this](const httplib::Request&, httplib::Response& res) {
                ++describedTimes;
                res.status = describeStatus;
                res.set_content(description.empty() ? capabilities() : description, "text/xml");
            });
        for (const char* service : {"/arcgis/MapServer", "/arcgis/ImageServer"}) {
            http_.server().Get(service, [this](const httplib::Request&, httplib::Response& res) {
                ++describedTimes;
                res.set_content(arcgisJson(), "application/json");
            });
        }
        http_.server().Get(
            "/untiled/MapServer", [](const httplib::Request&, httplib::Response& res) {
                res.set_content(R"({"currentVersion": 10.91, "mapName": "Layers", "layers": []})",
                                "application/json");
            });
        const auto tile = [this](const httplib::Request& req, httplib::Response& res, int col) {
            ++tiles;
            if (!tileAnswer.empty()) {
                res.status = 400;
                res.set_content(tileAnswer, "application/xml");
                return;
            }
            res.set_content(col % 2 == 0 ? orange : teal, "image/png");
            (void)req;
        };
        http_.server().Get(R"(/wmts/tiles/(\d+)/(\d+)/(\d+)\.png)",
                           [tile](const httplib::Request& req, httplib::Response& res) {
                               tile(req, res, std::stoi(req.matches[3]));
                           });
        http_.server().Get(R"(/arcgis/\w+/tile/(\d+)/(\d+)/(\d+))",
                           [tile](const httplib::Request& req, httplib::Response& res) {
                               tile(req, res, std::stoi(req.matches[3]));
                           });
        http_.start();
    }
    std::string wmts() const { return "wmts:" + http_.url() + "/wmts/caps.xml"; }
    std::string arcgis(const char* service = "/arcgis/MapServer") const
    {
        return "arcgis:" + http_.url() + service;
    }

    std::atomic<int> describedTimes{0};
    std::atomic<int> describeStatus{200};
    std::atomic<int> tiles{0};
    std::string description; // replaces the capabilities when set
    std::string tileAnswer;  // an exception report every tile is answered with, when set

    std::string capabilities(const Variant& v = {}) const
    {
        std::string matrices;
        std::string limits;
        for (int z = 0; z <= 14; ++z) {
            limits += "<TileMatrixLimits><TileMatrix>" + std::to_string(z) +
                      "</TileMatrix><MinTileRow>0</MinTileRow><MaxTileRow>0</MaxTileRow>"
                      "<MinTileCol>0</MinTileCol><MaxTileCol>0</MaxTileCol></TileMatrixLimits>";
            matrices += "<TileMatrix><ows:Identifier>" + std::to_string(z) +
                        "</ows:Identifier><ScaleDenominator>" +
                        std::to_string(559082264.0287178 / std::ldexp(1.0, z)) +
                        "</ScaleDenominator><TopLeftCorner>" + v.corner +
                        "</TopLeftCorner><TileWidth>256</TileWidth>"
                        "<TileHeight>256</TileHeight><MatrixWidth>" +
                        std::to_string(1 << z) + "</MatrixWidth><MatrixHeight>" +
                        std::to_string(1 << z) + "</MatrixHeight></TileMatrix>";
        }
        const std::string other =
            v.several ? R"(<Format>image/jpeg</Format><TileMatrixSetLink><TileMatrixSet>utm
            </TileMatrixSet></TileMatrixSetLink><ResourceURL format="image/jpeg"
            resourceType="tile" template="http://127.0.0.2:9/{TileMatrix}/{TileRow}/{TileCol}"/>)"
                      : "";
        const std::string utm = v.several ? R"(<TileMatrixSet><ows:Identifier>utm
            </ows:Identifier><ows:SupportedCRS>EPSG:25832</ows:SupportedCRS><TileMatrix>
            <ows:Identifier>u</ows:Identifier><ScaleDenominator>1e7</ScaleDenominator>
            <TopLeftCorner>-46133 6301219</TopLeftCorner><TileWidth>256</TileWidth><TileHeight>256
            </TileHeight><MatrixWidth>1</MatrixWidth><MatrixHeight>1</MatrixHeight></TileMatrix>
            </TileMatrixSet>)"
                                          : "";
        const std::string bounds =
            v.bounds ? "<ows:WGS84BoundingBox><ows:LowerCorner>-170 -80</ows:LowerCorner>"
                       "<ows:UpperCorner>170 80</ows:UpperCorner></ows:WGS84BoundingBox>"
                     : "";
        return R"(<Capabilities xmlns="http://www.opengis.net/wmts/1.0"
            xmlns:ows="http://www.opengis.net/ows/1.1"><Contents><Layer>
            <ows:Identifier>osm</ows:Identifier><Style isDefault="true"><ows:Identifier>default
            </ows:Identifier></Style>)" +
               other + bounds + R"(<Format>image/png</Format><TileMatrixSetLink>
            <TileMatrixSet>g</TileMatrixSet>)" +
               (v.limited ? "<TileMatrixSetLimits>" + limits + "</TileMatrixSetLimits>" : "") +
               R"(</TileMatrixSetLink><ResourceURL format="image/png"
            resourceType="tile" template=")" +
               http_.url() +
               R"(/wmts/tiles/{TileMatrix}/{TileRow}/{TileCol}.png"/></Layer><TileMatrixSet>
            <ows:Identifier>g</ows:Identifier><ows:SupportedCRS>)" +
               std::string(v.several ? "urn:ogc:def:crs:EPSG:6.18:3:3857"
                                     : "urn:ogc:def:crs:EPSG::3857") +
               "</ows:SupportedCRS>" + matrices + "</TileMatrixSet>" + utm +
               "</Contents></Capabilities>";
    }

private:
    static std::string arcgisJson()
    {
        std::string lods;
        for (int z = 0; z <= 14; ++z) {
            lods += (z == 0 ? "" : ",") + std::string("{\"level\":") + std::to_string(z) +
                    ",\"resolution\":" + std::to_string(156543.03392804097 / std::ldexp(1.0, z)) +
                    "}";
        }
        return R"({"tileInfo":{"rows":256,"cols":256,"origin":{"x":-20037508.342787,
            "y":20037508.342787},"spatialReference":{"wkid":102100,"latestWkid":3857},
            "lods":[)" +
               lods + "]}}";
    }

    const std::string orange = testsupport::png(QColor(250, 150, 20));
    const std::string teal = testsupport::png(QColor(20, 150, 150));
    testsupport::LoopbackServer http_; // last: stopped before the rest goes
};

// The share of pixels in which two pictures differ.
double differing(const QImage& a, const QImage& b)
{
    int different = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QColor p = a.pixelColor(x, y);
            const QColor q = b.pixelColor(x, y);
            different += std::abs(p.red() - q.red()) + std::abs(p.green() - q.green()) +
                                     std::abs(p.blue() - q.blue()) >
                                 30
                             ? 1
                             : 0;
        }
    }
    return static_cast<double>(different) / (a.width() * a.height());
}

TEST_F(GridDialects, WmtsAndTiledMapServicesDrawWhatTheSameTilesDrawAsXyz)
{
    GridServer grid;
    const auto drawn = [this](const std::string& spec) {
        SourceTable table(testShores(), options());
        EXPECT_TRUE(table.add(spec).ok()) << spec;
        const Answer answer = answerMapRequest(query, table);
        EXPECT_EQ(answer.status, 200) << spec << ": " << answer.body;
        return picture(answer);
    };
    const QImage xyz = drawn(tiles.spec());
    ASSERT_FALSE(xyz.isNull());
    for (const std::string& spec : {grid.wmts(), grid.arcgis()}) {
        grid.describedTimes = 0;
        const QImage image = drawn(spec);
        ASSERT_FALSE(image.isNull()) << spec;
        EXPECT_LT(differing(image, xyz), 0.01) << spec;
        drawn(spec); // the description comes from the cache now
        EXPECT_EQ(grid.describedTimes.load(), 1) << spec;
    }
}

// Descriptions as real services write them, with no #parameters: the defaults viewers take, the
// corners in whichever axis order the layer's bounds show, ImageServers, and a word for a map
// service without tiles.
TEST_F(GridDialects, RealServicesDescriptionsDrawWithoutParameters)
{
    GridServer grid;
    SourceTable reference(testShores(), options());
    ASSERT_TRUE(reference.add(tiles.spec()).ok());
    const QImage xyz = picture(answerMapRequest(query, reference));
    const struct {
        const char* name;
        std::string description; // for wmts: ones
        std::string spec;
        const char* refusal; // nullptr: drawn as the XYZ tiles draw
    } cases[] = {
        {"two formats, two sets", grid.capabilities(Variant{.several = true}), grid.wmts(),
         nullptr},
        {"corner northing first",
         grid.capabilities(
             Variant{.corner = "20037508.342789244 -20037508.342789244", .bounds = true}),
         grid.wmts(), nullptr},
        {"corner nowhere", grid.capabilities(Variant{.corner = "9e9 9e9", .bounds = true}),
         grid.wmts(), "off the layer's WGS84BoundingBox in either axis order"},
        {"no tile where the layer is", grid.capabilities(Variant{.bounds = true, .limited = true}),
         grid.wmts(), "WGS84BoundingBox holds this picture, but its tile matrices give no tile"},
        {"tiled ImageServer", "", grid.arcgis("/arcgis/ImageServer"), nullptr},
        {"untiled MapServer", "", grid.arcgis("/untiled/MapServer"),
         "has no tile cache; its WMS, where it has one, is http://127.0.0.1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        grid.description = c.description;
        RemoteOptions elsewhere = options();
        elsewhere.cacheFolder += c.name; // nothing of another row in the cache
        SourceTable table(testShores(), testsupport::onServiceLoop(elsewhere));
        ASSERT_TRUE(table.add(c.spec).ok());
        const Answer answer = answerMapRequest(query, table);
        if (c.refusal != nullptr) {
            EXPECT_EQ(answer.status, 502);
            EXPECT_NE(answer.body.find(c.refusal), std::string::npos) << answer.body;
            continue;
        }
        ASSERT_EQ(answer.status, 200) << answer.body;
        EXPECT_LT(differing(picture(answer), xyz), 0.01);
    }
    // A picture outside the layer shows the drawn map alone, which a client keeps for a minute.
    SourceTable table(testShores(), options());
    ASSERT_TRUE(table.add(grid.wmts()).ok());
    const MapRequest outside{{85, 175}, 90, 100, 100, "EUR0407", {}};
    EXPECT_EQ(answerMapRequest("CenP=85,175&Alti=90&Size=100,100&Lang=EUR0407", table).status, 200);
    EXPECT_EQ(table.freshness(outside, nullptr).maxAgeSeconds, 60);
}

TEST_F(GridDialects, ADescriptionThatFailsIsAskedForAtMostOnceAMinute)
{
    GridServer grid;
    const struct {
        int status;
        std::string body;
        const char* reason;
    } cases[] = {
        {404, "", "nothing there for the WMTS capabilities document"},
        {200, "<html>Down for maintenance</html>", "no WMTS capabilities document"},
        {200, std::string((8 << 20) + 1, 'x'), "larger than 8 MB"},
    };
    for (const auto& c : cases) {
        grid.describeStatus = c.status;
        grid.description = c.body.empty() ? " " : c.body;
        grid.describedTimes = 0;
        SourceTable table(testShores(), options());
        ASSERT_TRUE(table.add(grid.wmts() + "#layer=osm").ok());
        for (int picture = 0; picture < 2; ++picture) {
            const Answer answer = answerMapRequest(query, table);
            EXPECT_EQ(answer.status, 502) << c.reason;
            EXPECT_NE(answer.body.find(c.reason), std::string::npos) << answer.body;
        }
        EXPECT_EQ(grid.describedTimes.load(), 1) << c.reason;
    }
}

TEST_F(GridDialects, ATileOutOfRangeIsNoDataAndOtherExceptionsFail)
{
    GridServer grid;
    const std::string report = R"(<?xml version="1.0"?><ExceptionReport
        xmlns="http://www.opengis.net/ows/1.1" version="1.1.0"><Exception exceptionCode="CODE"
        locator="TILEROW"><ExceptionText>TileRow is out of range</ExceptionText></Exception>
        </ExceptionReport>)";
    for (const auto& [code, status] :
         {std::pair{"TileOutOfRange", 200}, std::pair{"NoApplicableCode", 502}}) {
        grid.tileAnswer = report;
        grid.tileAnswer.replace(grid.tileAnswer.find("CODE"), 4, code);
        SourceTable table(testShores(), options());
        ASSERT_TRUE(table.add(grid.wmts() + "#style=default&format=image/png").ok());
        // Elsewhere for each code, so that nothing of the other is in the cache.
        const Answer answer = answerMapRequest(
            status == 200 ? query : "CenP=-30,100&Alti=90&Size=400,400&Lang=EUR0407", table);
        EXPECT_EQ(answer.status, status) << code << ": " << answer.body;
        if (status == 502) {
            EXPECT_NE(answer.body.find("the server answers with an exception: TileRow is out of "
                                       "range"),
                      std::string::npos)
                << answer.body;
        }
    }
}

// A picture of many tiles holds a descriptor only for the tiles being fetched: a WMTS of 1 x 1
// pixel tiles draws within a descriptor limit a little above what the process holds.
TEST_F(GridDialects, ManyTilesWaitWithoutDescriptors)
{
    const std::string tile = testsupport::png(QColor(250, 150, 20), 1);
    testsupport::LoopbackServer http;
    std::string matrices;
    for (int z = 0; z <= 14; ++z) {
        matrices += "<TileMatrix><ows:Identifier>" + std::to_string(z) +
                    "</ows:Identifier><ScaleDenominator>" +
                    std::to_string(559082264.0287178 / std::ldexp(1.0, z)) +
                    "</ScaleDenominator><TopLeftCorner>-20037508.342789244 20037508.342789244"
                    "</TopLeftCorner><TileWidth>1</TileWidth><TileHeight>1</TileHeight>"
                    "<MatrixWidth>" +
                    std::to_string(256 << z) + "</MatrixWidth><MatrixHeight>" +
                    std::to_string(256 << z) + "</MatrixHeight></TileMatrix>";
    }
    http.server().Get("/caps.xml", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content(R"(<Capabilities xmlns="http://www.opengis.net/wmts/1.0"
            xmlns:ows="http://www.opengis.net/ows/1.1"><Contents><Layer>
            <ows:Identifier>a</ows:Identifier><Format>image/png</Format><TileMatrixSetLink>
            <TileMatrixSet>g</TileMatrixSet></TileMatrixSetLink><ResourceURL format="image/png"
            resourceType="tile" template=")" +
                            http.url() +
                            R"(/t/{TileMatrix}/{TileRow}/{TileCol}.png"/></Layer><TileMatrixSet>
            <ows:Identifier>g</ows:Identifier><ows:SupportedCRS>EPSG:3857</ows:SupportedCRS>)" +
                            matrices + "</TileMatrixSet></Contents></Capabilities>",
                        "text/xml");
    });
    std::atomic<int> asked{0};
    http.server().Get(R"(/t/.*)", [&](const httplib::Request&, httplib::Response& res) {
        ++asked;
        res.set_content(tile, "image/png");
    });
    http.start();
    SourceTable table(testShores(), options());
    ASSERT_TRUE(table.add("wmts:" + http.url() + "/caps.xml").ok());
    ASSERT_TRUE(table.add("USA407=" + tiles.spec()).ok()); // a healthy source beside it
    // Room for 48 more descriptors than are open now; each waiting tile held one.
    int open = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/fd")) {
        ++open;
    }
    rlimit before{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &before), 0);
    rlimit tight = before;
    tight.rlim_cur = static_cast<rlim_t>(open + 48);
    const testsupport::RunningServer server(table); // its loop, not one run while waiting
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
    const auto [status, seconds] = server.get("CenP=48,10&Alti=90&Size=10,10&Lang=EUR0407");
    const auto healthy = server.get("CenP=48,10&Alti=90&Size=200,200&Lang=USA407");
    setrlimit(RLIMIT_NOFILE, &before);
    EXPECT_EQ(healthy.first, 200) << "the healthy source, within the same limit";
    EXPECT_EQ(status, 200) << asked.load() << " tiles asked in " << seconds << " s";
    EXPECT_GT(asked.load(), 100) << "a picture of many tiles";
}

} // namespace
