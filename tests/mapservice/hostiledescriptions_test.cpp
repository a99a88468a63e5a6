// Descriptions that an upstream server writes to harm the service: each is refused in a word
// within the source's time-out while the drawn map and a healthy source go on answering; no
// request reaches a host the user did not name, and no file that a description names as its
// CRS is opened.
#include "upstreamfakes.h"

#include <future>
#include <sys/inotify.h>
#include <sys/stat.h>

namespace {

using namespace mapservice;

// A WMTS capabilities document of one layer in Web Mercator: |crs|, the layer's |resource|
// (a ResourceURL, or nothing for KVP GetTile at |getTile|) and |extra| inside the layer.
std::string layerDocument(const std::string& crs, const std::string& resource,
                          const std::string& extra = {}, const std::string& getTile = {})
{
    const std::string operations =
        getTile.empty()
            ? ""
            : R"(<ows:OperationsMetadata><ows:Operation name="GetTile"><ows:DCP>
            <ows:HTTP><ows:Get xlink:href=")" +
                  getTile + R"("/></ows:HTTP></ows:DCP></ows:Operation></ows:OperationsMetadata>)";
    return R"(<Capabilities xmlns="http://www.opengis.net/wmts/1.0"
        xmlns:ows="http://www.opengis.net/ows/1.1" xmlns:xlink="http://www.w3.org/1999/xlink">)" +
           operations + R"(<Contents><Layer><ows:Identifier>a</ows:Identifier>
        <Format>image/png</Format><TileMatrixSetLink><TileMatrixSet>g</TileMatrixSet>
        </TileMatrixSetLink>)" +
           extra + resource + R"(</Layer><TileMatrixSet><ows:Identifier>g</ows:Identifier>
        <ows:SupportedCRS>)" +
           crs + R"(</ows:SupportedCRS><TileMatrix><ows:Identifier>0</ows:Identifier>
        <ScaleDenominator>559082264.0287178</ScaleDenominator><TopLeftCorner>-20037508.342789244
        20037508.342789244</TopLeftCorner><TileWidth>256</TileWidth><TileHeight>256</TileHeight>
        <MatrixWidth>1</MatrixWidth><MatrixHeight>1</MatrixHeight></TileMatrix></TileMatrixSet>
        </Contents></Capabilities>)";
}

std::string tileResource(const std::string& url)
{
    return R"(<ResourceURL format="image/png" resourceType="tile" template=")" + url + R"("/>)";
}

std::string repeated(const std::string& text, int times)
{
    std::string out;
    out.reserve(text.size() * static_cast<std::size_t>(times));
    for (int i = 0; i < times; ++i) {
        out += text;
    }
    return out;
}

// The opens of a file that an inotify watch sees.
class OpenWatch {
public:
    explicit OpenWatch(const std::string& path)
        : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)),
          watch_(inotify_add_watch(fd_, path.c_str(), IN_OPEN))
    {}
    ~OpenWatch() { close(fd_); }
    OpenWatch(const OpenWatch&) = delete;
    OpenWatch& operator=(const OpenWatch&) = delete;
    bool watching() const { return watch_ >= 0; }
    bool opened() const
    {
        char events[4096];
        return read(fd_, events, sizeof events) > 0;
    }

private:
    int fd_;
    int watch_;
};

TEST(HostileDescriptions, AreRefusedInTimeWhileTheOtherMapsAnswerAndNothingLeaves)
{
    testsupport::TempWorkDir work;
    const std::string folder = work.path().toStdString();
    const std::string fifo = folder + "/crs.fifo";
    const std::string file = folder + "/crs.wkt";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::ofstream(file) << "GEOGCS[\"WGS 84\",DATUM[\"WGS_1984\",SPHEROID[\"WGS 84\",6378137,"
                           "298.257223563]],PRIMEM[\"Greenwich\",0],UNIT[\"degree\",0.0174532925]]";

    // Another host, which no request may reach.
    std::atomic<int> elsewhere{0};
    testsupport::LoopbackServer other;
    other.server().Get(".*", [&elsewhere](const httplib::Request&, httplib::Response& res) {
        ++elsewhere;
        res.set_content(testsupport::png(QColor(255, 0, 0)), "image/png");
    });
    other.start("127.0.0.2");
    const std::string tiles = "/{TileMatrix}/{TileRow}/{TileCol}.png";
    const std::string mercator = "urn:ogc:def:crs:EPSG::3857";

    testsupport::TileServer healthy;
    std::string description;
    testsupport::LoopbackServer upstream;
    upstream.server().Get("/caps.xml",
                          [&description](const httplib::Request&, httplib::Response& res) {
                              res.set_content(description, "text/xml");
                          });
    upstream.start();

    const struct {
        const char* name;
        std::string document;
        const char* reason;
        std::string watched; // a file no open of may be seen
    } cases[] = {
        {"600,000 placeholders",
         layerDocument(mercator,
                       tileResource(upstream.url() + tiles + repeated("{TileMatrix}", 600000))),
         "longer than 8192 bytes",
         {}},
        {"a dimension bomb",
         layerDocument(mercator, tileResource(upstream.url() + tiles + repeated("{T}", 1500000)),
                       "<Dimension><ows:Identifier>T</ows:Identifier><Default>" +
                           std::string(2 << 20, 'x') + "</Default></Dimension>"),
         "more than 1 KB",
         {}},
        {"a FIFO as CRS", layerDocument(fifo, tileResource(upstream.url() + tiles)),
         "is an address or a file", fifo},
        {"a file as CRS", layerDocument(file, tileResource(upstream.url() + tiles)),
         "is an address or a file", file},
        {"an address as CRS",
         layerDocument(other.url() + "/crs", tileResource(upstream.url() + tiles)),
         "is an address or a file",
         {}},
        {"tiles elsewhere",
         layerDocument(mercator, tileResource(other.url() + tiles)),
         "which is not its own host",
         {}},
        {"a user in the template",
         layerDocument(mercator, tileResource("http://user:pw@127.0.0.1:" +
                                              std::to_string(upstream.port()) + tiles)),
         "user name or password",
         {}},
        {"GetTile elsewhere",
         layerDocument(mercator, "", "", other.url() + "/kvp?"),
         "which is not its own host",
         {}},
    };
    int row = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<OpenWatch> watch;
        if (!c.watched.empty()) {
            watch.emplace(c.watched);
            ASSERT_TRUE(watch->watching());
        }
        description = c.document;
        RemoteOptions options{folder + "/cache" + std::to_string(row++), 19,
                              "mapservice/test (tests@example.org)", 2048, 10};
        SourceTable table(testShores(), testsupport::onServiceLoop(options));
        ASSERT_TRUE(table.add("EUR0407=wmts:" + upstream.url() + "/caps.xml?apikey=k").ok());
        ASSERT_TRUE(table.add("USA407=" + healthy.spec()).ok());
        const testsupport::RunningServer server(table);
        auto bad = std::async(std::launch::async, [&server] {
            httplib::Client client("127.0.0.1", server.port());
            client.set_read_timeout(60, 0);
            const auto result = client.Get("/pub/agent.dll?CenP=48,10&Alti=90&Size=200,200&"
                                           "Lang=EUR0407");
            return result ? std::pair{result->status, result->body} : std::pair{0, std::string()};
        });
        // Meanwhile the drawn map and the healthy source answer as ever.
        for (const char* code : {"WLD0407", "USA407"}) {
            EXPECT_EQ(server.get(std::string("CenP=48,10&Alti=90&Size=100,100&Lang=") + code).first,
                      200)
                << code;
        }
        const auto [status, body] = bad.get();
        EXPECT_EQ(status, 502);
        EXPECT_NE(body.find(c.reason), std::string::npos) << body;
        EXPECT_EQ(body.find("apikey"), std::string::npos) << body;
        if (watch) {
            EXPECT_FALSE(watch->opened());
        }
    }
    EXPECT_EQ(elsewhere.load(), 0);
}

} // namespace
