// Pictures from a slippy-map tile server, played here by a server on 127.0.0.1 whose tiles
// are flat colours: what arrives, what the cache saves, and what a failing upstream gives.
#include "loopbackserver.h"
#include "mapservice/answer.h"
#include "mapservice/rastersource.h"
#include "mapservice/sources.h"
#include "tempworkdir.h"
#include "testshores.h"

#include <QBuffer>
#include <QImage>

#include <gtest/gtest.h>

#include <httplib.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace mapservice;

std::string png(QColor colour)
{
    QImage image(256, 256, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes.toStdString();
}

// Tiles of even x are orange, of odd x teal; |status| and |body| replace them when set.
class TileServer {
public:
    TileServer()
    {
        http_.server().Get(R"(/(\d+)/(\d+)/(\d+)\.png)", [this](const httplib::Request& req,
                                                                httplib::Response& res) {
            ++requests;
            // The most requests in flight at once.
            const int now = ++inFlight;
            int most = mostInFlight;
            while (now > most && !mostInFlight.compare_exchange_weak(most, now)) {
            }
            struct Leave {
                std::atomic<int>& n;
                ~Leave() { --n; }
            } leave{inFlight};
            zooms |= 1 << std::stoi(req.matches[1]);
            if (delayMs > 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(delayMs.load()));
            }
            {
                const std::lock_guard lock(mutex_); // two connections at once
                userAgent_ = req.get_header_value("User-Agent");
            }
            if (status != 200) {
                res.status = status;
                res.set_content("<html>busy</html>", "text/html");
                return;
            }
            if (!body.empty()) {
                res.set_content(body, "text/html");
                return;
            }
            const int x = std::stoi(req.matches[2]);
            res.set_content(x % 2 == 0 ? orange : teal, "image/png");
        });
        http_.start();
    }
    std::string spec() const { return "xyz:" + http_.url() + "/{z}/{x}/{y}.png"; }

    std::string userAgent()
    {
        const std::lock_guard lock(mutex_);
        return userAgent_;
    }

    std::atomic<int> requests{0};
    std::atomic<int> zooms{0}; // bit z set when a tile of zoom z was asked for
    std::atomic<int> inFlight{0};
    std::atomic<int> mostInFlight{0}; // the most requests served at once
    std::atomic<int> delayMs{0};
    std::atomic<int> status{200};
    std::string body; // set only while no request is served

private:
    std::mutex mutex_;
    std::string userAgent_;
    const std::string orange = png(QColor(250, 150, 20));
    const std::string teal = png(QColor(20, 150, 150));
    testsupport::LoopbackServer http_; // last: stopped before the rest goes
};

class XyzSource : public ::testing::Test {
protected:
    RemoteOptions options()
    {
        return {(work.path() + QStringLiteral("/cache")).toStdString(), 19,
                "mapservice/test (tests@example.org)", 2048, timeoutSeconds};
    }
    Answer ask(const std::string& query)
    {
        SourceTable table(testShores(), options());
        EXPECT_TRUE(table.add(tiles.spec()).ok());
        return answerMapRequest(query, table);
    }

    testsupport::TempWorkDir work;
    TileServer tiles;
    int timeoutSeconds = 30;
    // 0.4 degrees around 48 N 10 E, 0.001 degrees a pixel: tiles of zoom 11 (0.0014 degrees
    // a pixel would be coarser than the picture, zoom 12 needlessly fine).
    const std::string query = "CenP=48,10&Alti=90&Size=400,400&Lang=EUR0407";
};

TEST_F(XyzSource, DrawsTheTilesAndAsksNothingTheSecondTime)
{
    const Answer first = ask(query);
    ASSERT_EQ(first.status, 200) << first.body;
    const QImage image = QImage::fromData(reinterpret_cast<const uchar*>(first.body.data()),
                                          static_cast<int>(first.body.size()), "GIF");
    ASSERT_EQ(image.size(), QSize(400, 400));
    const QColor centre = image.pixelColor(200, 200);
    EXPECT_TRUE(centre == QColor(250, 150, 20) || centre == QColor(20, 150, 150))
        << centre.name().toStdString();
    const int asked = tiles.requests;
    EXPECT_GT(asked, 0);
    EXPECT_EQ(tiles.zooms, 1 << 11) << "only tiles of zoom 11";
    EXPECT_EQ(tiles.userAgent().rfind("mapservice/test (tests@example.org)", 0), 0u)
        << tiles.userAgent();

    // A new source, as after a restart: only the cache on disk can answer.
    const Answer second = ask(query);
    ASSERT_EQ(second.status, 200);
    EXPECT_EQ(second.body, first.body);
    EXPECT_EQ(tiles.requests, asked) << "the upstream is asked nothing again";
}

TEST_F(XyzSource, AFailingUpstreamIsNeverDrawnIntoAPicture)
{
    tiles.status = 500;
    const Answer failed = ask(query);
    EXPECT_EQ(failed.status, 502) << failed.body;
    EXPECT_EQ(failed.contentType, "text/plain");
    tiles.status = 200;
    tiles.body = "<html>not a picture</html>";
    const Answer html = ask("CenP=-20,100&Alti=90&Size=400,400&Lang=EUR0407");
    EXPECT_EQ(html.status, 502) << html.body;
    for (const Answer& answer : {failed, html}) {
        // One line of plain text: nothing of the upstream's page.
        EXPECT_LT(answer.body.size(), 201u) << answer.body;
        EXPECT_EQ(answer.body.find('\n'), answer.body.size() - 1) << answer.body;
        EXPECT_EQ(answer.body.find('<'), std::string::npos) << answer.body;
    }
}

TEST_F(XyzSource, ARefusedConnectionIsAnswered502)
{
    SourceTable table(testShores(), options());
    ASSERT_TRUE(table.add("xyz:http://127.0.0.1:9/{z}/{x}/{y}.png").ok()); // nobody listens
    const Answer refused = answerMapRequest(query, table);
    EXPECT_EQ(refused.status, 502) << refused.body;
}

TEST_F(XyzSource, ManyPicturesAtOnceUseTwoConnectionsToTheServer)
{
    tiles.delayMs = 20; // so that requests overlap where they can
    SourceTable table(testShores(), options());
    ASSERT_TRUE(table.add(tiles.spec()).ok());
    std::vector<std::thread> drawing;
    std::atomic<int> served{0};
    for (int i = 0; i < 4; ++i) {
        drawing.emplace_back([&, i] {
            const std::string q = "CenP=" + std::to_string(40 + i * 3) +
                                  ",10&Alti=90&Size=300,300"
                                  "&Lang=EUR0407";
            served += answerMapRequest(q, table).status == 200 ? 1 : 0;
        });
    }
    for (auto& t : drawing) {
        t.join();
    }
    EXPECT_EQ(served, 4);
    EXPECT_GT(tiles.requests, 8);
    EXPECT_EQ(tiles.mostInFlight, 2) << "two connections, never more";
}

TEST_F(XyzSource, AnUpstreamTooSlowIsAnsweredAsATimeOut)
{
    timeoutSeconds = 1;
    tiles.delayMs = 2500;
    const Answer slow = ask("CenP=48.01,10.01&Alti=90&Size=20,20&Lang=EUR0407"); // one tile
    EXPECT_EQ(slow.status, 504) << slow.body;
}

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
            const int width = std::stoi(param("WIDTH"));
            const int height = std::stoi(param("HEIGHT"));
            double west = 0;
            double south = 0;
            double east = 0;
            double north = 0;
            std::sscanf(param("BBOX").c_str(), "%lf,%lf,%lf,%lf", &west, &south, &east, &north);
            QImage image(width, height, QImage::Format_RGB32);
            for (int x = 0; x < width; ++x) {
                const double lon = west + (x + 0.5) * (east - west) / width;
                for (int y = 0; y < height; ++y) {
                    image.setPixel(x, y, lon < 0 ? qRgb(200, 20, 20) : qRgb(20, 20, 200));
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
    SourceTable table(testShores(), {(work.path() + QStringLiteral("/cache")).toStdString(), 19,
                                     "mapservice/test", 2048, 30});
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

struct ZoomCase {
    double degreesPerPixel;
    int finest;
    int zoom;
};

TEST(TileZoom, CoarsestWhosePixelsAreNoLargerThanThePicturesCappedByTheFinest)
{
    const double zoom8 = 360.0 / 256 / 256; // a pixel of zoom 8, in degrees of longitude
    const ZoomCase cases[] = {
        {zoom8, 19, 8}, {zoom8 * 1.01, 19, 8}, {zoom8 * 0.99, 19, 9}, {0.001, 19, 11},
        {1e-9, 19, 19}, {1e-9, 15, 15},        {400, 19, 0}, // a picture of the whole world in a
                                                             // few pixels
    };
    for (const ZoomCase& c : cases) {
        EXPECT_EQ(tileZoomFor(c.degreesPerPixel, c.finest), c.zoom) << c.degreesPerPixel;
    }
}

} // namespace
