// Pictures from a WMS, played here by a server on 127.0.0.1 that colours west and east of 0
// degrees apart.
#include "geotiffwriter.h"
#include "upstreamfakes.h"

#include <cmath>

namespace {

using namespace mapservice;
using testsupport::png;
using testsupport::RunningServer;
using testsupport::TileServer;
using testsupport::waitFor;

std::string upper(std::string text)
{
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

// A WMS on 127.0.0.1 answering GetMap with a picture of the asked size: west of 0 degrees
// red, east of it blue, computed from the asked bounding box.
class WmsServer {
public:
    WmsServer()
    {
        http_.server().Get("/wms", [this](const httplib::Request& req, httplib::Response& res) {
            {
                const std::lock_guard lock(mutex_);
                queries_.push_back(req.target);
            }
            // Parameter names of a WMS request are not case-sensitive.
            const auto param = [&req](const std::string& name) {
                for (const auto& [key, value] : req.params) {
                    if (upper(key) == name) {
                        return value;
                    }
                }
                return std::string();
            };
            if (param("LAYERS") == "missing") {
                res.set_content("<?xml version='1.0'?>\n<ServiceExceptionReport version=\"1.3.0\">"
                                "<ServiceException code=\"LayerNotDefined\">\n  Layer "
                                "'missing' is\n not <b>defined</b>\n</ServiceException>"
                                "</ServiceExceptionReport>",
                                "text/xml");
                return;
            }
            const int width = std::stoi(param("WIDTH"));
            const int height = std::stoi(param("HEIGHT"));
            double west = 0;
            double south = 0;
            double east = 0;
            double north = 0;
            std::sscanf(param("BBOX").c_str(), "%lf,%lf,%lf,%lf", &west, &south, &east, &north);
            const std::string crs = upper(param("CRS"));
            const bool shaded = param("LAYERS") == "shaded";
            if (crs == "EPSG:4326") { // WMS 1.3.0 gives latitude first
                std::swap(west, south);
                std::swap(east, north);
            }
            // Longitude and latitude of a pixel's centre (Web Mercator: from metres).
            const auto lonAt = [&](int x) {
                const double v = west + (x + 0.5) * (east - west) / width;
                return crs == "EPSG:3857" ? v / 20037508.342789244 * 180 : v;
            };
            const auto latAt = [&](int y) {
                const double v = north - (y + 0.5) * (north - south) / height;
                return crs == "EPSG:3857"
                           ? 360 / M_PI * std::atan(std::exp(v / 20037508.342789244 * M_PI)) - 90
                           : v;
            };
            QImage image(width, height, QImage::Format_RGB32);
            for (int x = 0; x < width; ++x) {
                const double lon = lonAt(x);
                for (int y = 0; y < height; ++y) {
                    // Layer "shaded": north of 10 degrees darker, so that rows are placed too.
                    const int shade = shaded && latAt(y) >= 10 ? 150 : 200;
                    image.setPixel(x, y, lon < 0 ? qRgb(shade, 20, 20) : qRgb(20, 20, shade));
                }
            }
            QByteArray bytes;
            QBuffer buffer(&bytes);
            buffer.open(QIODevice::WriteOnly);
            image.save(&buffer, "PNG");
            res.set_content(bytes.toStdString(), "image/png");
        });
        http_.start();
    }
    std::string url() const { return http_.url() + "/wms?"; }
    std::vector<std::string> queries()
    {
        const std::lock_guard lock(mutex_);
        return queries_;
    }

private:
    std::mutex mutex_;
    std::vector<std::string> queries_;
    testsupport::LoopbackServer http_; // last: stopped before the rest goes
};

TEST(WmsSource, AsksForTheLayerInGeographicCoordinatesAndPlacesTheAnswer)
{
    testsupport::TempWorkDir work;
    WmsServer wms;
    SourceTable table(testShores(), testsupport::onServiceLoop(
                                        {(work.path() + QStringLiteral("/cache")).toStdString(), 19,
                                         "mapservice/test", 2048, 30}));
    ASSERT_TRUE(table.add("wms:" + wms.url() + "LAYERS=topo&STYLES=").ok());
    // 4 degrees across the prime meridian.
    const Answer answer = answerMapRequest("CenP=10,0&Alti=180&Size=400,400&Lang=EUR0407", table);
    ASSERT_EQ(answer.status, 200) << answer.body;
    const QImage image = QImage::fromData(reinterpret_cast<const uchar*>(answer.body.data()),
                                          static_cast<int>(answer.body.size()), "GIF");
    EXPECT_EQ(image.pixelColor(150, 150), QColor(200, 20, 20)) << "west of 0";
    EXPECT_EQ(image.pixelColor(250, 150), QColor(20, 20, 200)) << "east of 0";
    const auto queries = wms.queries();
    ASSERT_FALSE(queries.empty());
    const std::string query = upper(queries.front());
    EXPECT_NE(query.find("LAYERS=TOPO"), std::string::npos) << query;
    EXPECT_NE(query.find("SRS=EPSG:4326"), std::string::npos) << query;
    EXPECT_NE(query.find("REQUEST=GETMAP"), std::string::npos) << query;
}

// Where the colours change along the middle row and the middle column of a picture.
std::pair<int, int> edges(const QImage& image)
{
    int column = -1;
    int row = -1;
    for (int x = 1; x < image.width() && column < 0; ++x) {
        if (image.pixelColor(x, 300).blue() > image.pixelColor(x, 300).red() &&
            image.pixelColor(x - 1, 300).red() > image.pixelColor(x - 1, 300).blue()) {
            column = x;
        }
    }
    for (int y = 1; y < image.height() && row < 0; ++y) {
        if (image.pixelColor(100, y).red() > image.pixelColor(100, y - 1).red() + 20) {
            row = y;
        }
    }
    return {column, row};
}

TEST(WmsSource, EachVersionAndProjectionPlacesTheAnswer)
{
    testsupport::TempWorkDir work;
    WmsServer wms;
    for (const std::string version :
         {"", "VERSION=1.3.0&", "version=1.3.0&crs=EPSG:3857&", "VERSION=1.1.1&SRS=EPSG:3857&"}) {
        SourceTable table(testShores(), testsupport::onServiceLoop(
                                            {(work.path() + QStringLiteral("/cache")).toStdString(),
                                             19, "mapservice/test", 2048, 30}));
        ASSERT_TRUE(table.add("wms:" + wms.url() + version + "LAYERS=shaded").ok());
        // 4 degrees around 10 N 0 E: the colours change at the middle column and row.
        const Answer answer =
            answerMapRequest("CenP=10,0&Alti=180&Size=400,400&Lang=EUR0407", table);
        ASSERT_EQ(answer.status, 200) << answer.body;
        const QImage image = QImage::fromData(reinterpret_cast<const uchar*>(answer.body.data()),
                                              static_cast<int>(answer.body.size()), "GIF");
        const auto [column, row] = edges(image);
        EXPECT_NEAR(column, 200, 1) << version;
        EXPECT_NEAR(row, 200, 1) << version;
        const std::string asked = upper(wms.queries().back());
        const bool v130 = version.find("1.3.0") != std::string::npos;
        EXPECT_NE(asked.find(v130 ? "VERSION=1.3.0" : "VERSION=1.1.1"), std::string::npos) << asked;
        EXPECT_NE(asked.find(version.find("crs=EPSG:3857") != std::string::npos ? "CRS=EPSG:3857"
                             : v130                                             ? "CRS=EPSG:4326"
                                                                                : "SRS=EPSG:4326"),
                  std::string::npos)
            << asked;
    }
}

TEST(WmsSource, AnExceptionReportIsAFailureInTheServersWords)
{
    testsupport::TempWorkDir work;
    WmsServer wms;
    SourceTable table(testShores(), testsupport::onServiceLoop(
                                        {(work.path() + QStringLiteral("/cache")).toStdString(), 19,
                                         "mapservice/test", 2048, 30}));
    ASSERT_TRUE(table.add("wms:" + wms.url() + "LAYERS=missing").ok());
    const Answer answer = answerMapRequest("CenP=10,0&Alti=180&Size=400,400&Lang=EUR0407", table);
    EXPECT_EQ(answer.status, 502);
    EXPECT_NE(answer.body.find("the server answers with an exception: Layer 'missing' is not "
                               "defined"),
              std::string::npos)
        << answer.body;
}

TEST(WmsSource, APictureAcross180IsAskedForInPiecesOnBothSides)
{
    MapRequest across;
    across.centre.longitude = 180;
    across.zoom = 45;
    across.width = across.height = 1999;
    const WmsPlan plan = wmsPlan(Geometry(across));
    ASSERT_EQ(plan.pieces.size(), 2u);
    EXPECT_NEAR(plan.pieces[0].box.west, 179.5, 1e-3);
    EXPECT_DOUBLE_EQ(plan.pieces[0].box.east, 180);
    EXPECT_DOUBLE_EQ(plan.pieces[1].box.west, -180); // east of 180, in the next world
    EXPECT_NEAR(plan.pieces[1].box.east, -179.5, 1e-3);
    EXPECT_NEAR(plan.pieces[0].width + plan.pieces[1].width, 1999, 1);
    EXPECT_EQ(plan.blocks.size(), 4u) << "1999 rows in two blocks each";
    const std::string url = getMapUrl("http://h.example/wms?map=x&LAYERS=topo&srs=EPSG:3857&"
                                      "BBOX=1,2,3,4",
                                      plan.blocks[0]);
    EXPECT_EQ(url.rfind("http://h.example/wms?map=x&LAYERS=topo&STYLES=&FORMAT=image/png&"
                        "SERVICE=WMS&VERSION=1.1.1&REQUEST=GetMap&SRS=EPSG:4326&BBOX=",
                        0),
              0u)
        << url;
}

} // namespace
