// Pictures from a slippy-map tile server, played here by a server on 127.0.0.1 whose tiles
// are flat colours: what is asked for and what arrives, what the cache saves, what missing
// tiles and a failing, stuck or flooding upstream give.
#include "geotiffwriter.h"
#include "loopbackserver.h"
#include "mapservice/answer.h"
#include "mapservice/server.h"
#include "mapservice/sources.h"
#include "mapservice/tilecache.h"
#include "mapservice/tilegrid.h"
#include "mapservice/upstream.h"
#include "tempworkdir.h"
#include "testshores.h"

#include <QBuffer>
#include <QImage>

#include <gtest/gtest.h>

#include <httplib.h>

#include <arpa/inet.h>
#include <array>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <curl/curl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <netinet/in.h>
#include <set>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace {

using namespace mapservice;

std::string png(QColor colour, int side = 256)
{
    QImage image(side, side, QImage::Format_RGB32);
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
            const int z = std::stoi(req.matches[1]);
            const int x = std::stoi(req.matches[2]);
            const int y = std::stoi(req.matches[3]);
            zooms |= 1 << z;
            {
                const std::lock_guard lock(mutex_);
                asked_.emplace(z, x, y);
            }
            if (delayMs > 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(delayMs.load()));
            }
            for (int i = 0; i < 1000 && hang && !letGo; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            if (missing && missing(z, x, y)) {
                res.status = 404;
                return;
            }
            if (flood) { // a gigabyte, made as it is sent, with no length announced
                res.set_chunked_content_provider(
                    "image/png",
                    [sent = std::size_t{0}](std::size_t, httplib::DataSink& sink) mutable {
                        static const std::string chunk(1 << 20, 'x');
                        if (sent >= std::size_t{1} << 30) {
                            sink.done();
                            return true;
                        }
                        sent += chunk.size();
                        return sink.write(chunk.data(), chunk.size());
                    });
                return;
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
    std::set<std::tuple<int, int, int>> asked()
    {
        const std::lock_guard lock(mutex_);
        return asked_;
    }

    std::atomic<int> requests{0};
    std::atomic<int> zooms{0}; // bit z set when a tile of zoom z was asked for
    std::atomic<int> inFlight{0};
    std::atomic<int> mostInFlight{0}; // the most requests served at once
    std::atomic<int> delayMs{0};
    std::atomic<int> status{200};
    std::atomic<bool> hang{false}; // hold every request until letGo (at most 10 s)
    std::atomic<bool> letGo{false};
    std::atomic<bool> flood{false}; // answer a gigabyte
    // These two are set only while no request is served.
    std::string body;
    std::function<bool(int z, int x, int y)> missing; // answered 404

private:
    std::mutex mutex_;
    std::string userAgent_;
    std::set<std::tuple<int, int, int>> asked_;
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
    QImage picture(const Answer& answer)
    {
        return QImage::fromData(reinterpret_cast<const uchar*>(answer.body.data()),
                                static_cast<int>(answer.body.size()), "GIF");
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

// A tile cut short or not of the grid's size fails its picture and is not cached: the next
// picture, once the upstream mends, is drawn. An empty entry left by an earlier version is
// fetched again, not taken for "nothing there".
TEST_F(XyzSource, OnlyWholeTilesOfTheGridsSizeEnterTheCache)
{
    const std::string whole = png(QColor(250, 150, 20));
    const struct {
        std::string body;
        const char* reason;
    } cases[] = {{whole.substr(0, whole.size() - 100), "is a PNG cut short"},
                 {png(Qt::red, 512), "of 512 x 512 pixels, not 256 x 256"}};
    for (const auto& c : cases) {
        tiles.body = c.body;
        const Answer bad = ask(query);
        EXPECT_EQ(bad.status, 502);
        EXPECT_NE(bad.body.find(c.reason), std::string::npos) << bad.body;
    }
    tiles.body.clear();
    const Answer mended = ask(query);
    ASSERT_EQ(mended.status, 200) << mended.body;
    const int asked = tiles.requests;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(
             (work.path() + QStringLiteral("/cache")).toStdString())) {
        if (entry.is_regular_file()) {
            std::filesystem::resize_file(entry.path(), 0);
        }
    }
    const Answer again = ask(query);
    EXPECT_EQ(again.body, mended.body);
    EXPECT_GT(tiles.requests, asked) << "empty entries are fetched again";
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

TEST_F(XyzSource, APictureAcross180DegreesAsksForItsTilesOnBothSidesOnly)
{
    // 1 degree at 179.9 E, 17 S: tiles of zoom 12, columns 4089 to 4100 (4100 being 4 east of
    // 180) and 13 rows; 14 x 15 with the ring around them.
    const Answer answer = ask("CenP=-17,179.9&Alti=45&Size=1999,1999&Lang=EUR0407");
    ASSERT_EQ(answer.status, 200) << answer.body;
    EXPECT_EQ(tiles.zooms, 1 << 12);
    const auto asked = tiles.asked();
    EXPECT_EQ(asked.size(), 14u * 15u);
    std::set<int> columns;
    for (const auto& [z, x, y] : asked) {
        columns.insert(x);
    }
    EXPECT_EQ(*columns.begin(), 0);
    EXPECT_EQ(*columns.rbegin(), 4095);
    EXPECT_EQ(columns.size(), 14u);
    // 180 degrees is at pixel 1199: tile 4095 (odd, teal) west of it, tile 0 (orange) east.
    const QImage image = picture(answer);
    EXPECT_EQ(image.pixelColor(1190, 1000), QColor(20, 150, 150));
    EXPECT_EQ(image.pixelColor(1210, 1000), QColor(250, 150, 20));
}

struct MissingCase {
    const char* name;
    std::function<bool(int z, int x, int y)> missing;
    int zoomsAsked;            // bit z for each zoom asked for
    QColor westEdge, eastEdge; // invalid: the drawn map
};

TEST_F(XyzSource, MissingTilesLeaveTheDrawnMapOrTheirParentsEnlarged)
{
    // Zoom 11 around 48 N 10 E: columns 1079 to 1082, 10 degrees east at the edge of 1081.
    const MissingCase cases[] = {
        {"a regional set without coarser tiles",
         [](int z, int x, int) { return z != 11 || x > 1080; },
         1 << 11 | 1 << 10 | 1 << 9 | 1 << 8 | 1 << 7 | 1 << 6 | 1 << 5 | 1 << 4 | 1 << 3,
         QColor(20, 150, 150), QColor()},
        {"a pyramid ending at zoom 4", [](int z, int, int) { return z > 4; }, 0xff << 4,
         QColor(250, 150, 20), QColor(250, 150, 20)}, // tile 8 of zoom 4: even
    };
    for (const MissingCase& c : cases) {
        SCOPED_TRACE(c.name);
        tiles.missing = c.missing;
        tiles.zooms = 0;
        testsupport::TempWorkDir fresh; // no cache of the case before
        SourceTable table(testShores(), {(fresh.path() + QStringLiteral("/cache")).toStdString()});
        ASSERT_TRUE(table.add(tiles.spec()).ok());
        const Answer answer = answerMapRequest(query, table);
        ASSERT_EQ(answer.status, 200) << answer.body;
        EXPECT_EQ(tiles.zooms, c.zoomsAsked);
        const QImage image = picture(answer);
        const QColor west = image.pixelColor(2, 200);
        const QColor east = image.pixelColor(397, 200);
        EXPECT_EQ(west, c.westEdge);
        if (c.eastEdge.isValid()) {
            EXPECT_EQ(east, c.eastEdge);
        } else {
            EXPECT_NE(east, QColor(250, 150, 20));
            EXPECT_NE(east, QColor(20, 150, 150));
        }
    }
}

TEST_F(XyzSource, AGigabyteTileFailsItsPictureWithoutFillingTheMemory)
{
    tiles.flood = true;
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    const Answer answer = ask("CenP=48.01,10.01&Alti=90&Size=20,20&Lang=EUR0407");
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    EXPECT_EQ(answer.status, 502) << answer.body;
    EXPECT_NE(answer.body.find("larger than 16 MB"), std::string::npos) << answer.body;
    EXPECT_NE(answer.body.find("127.0.0.1"), std::string::npos) << answer.body;
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 500 * 1024) << "kilobytes";
}

// The service in this process, on a port of its own.
class RunningServer {
public:
    explicit RunningServer(const Source& source, const ServerLimits& limits = {},
                           MapServer::Log log = {})
        : server_(source, limits, std::move(log))
    {
        port_ = *server_.bind("127.0.0.1", 0);
        thread_ = std::thread([this] { server_.run(); });
    }
    ~RunningServer()
    {
        server_.stop();
        thread_.join();
    }
    RunningServer(const RunningServer&) = delete;
    RunningServer& operator=(const RunningServer&) = delete;

    // The status of the answer to a map request, and how long it took.
    std::pair<int, double> get(const std::string& query) const
    {
        httplib::Client client("127.0.0.1", port_);
        client.set_read_timeout(10, 0);
        const auto start = std::chrono::steady_clock::now();
        const auto result = client.Get("/pub/agent.dll?" + query);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        return {result ? result->status : 0, took.count()};
    }
    int port() const { return port_; }

private:
    MapServer server_;
    int port_ = 0;
    std::thread thread_;
};

void waitFor(const std::function<bool()>& condition)
{
    for (int i = 0; i < 500 && !condition(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

TEST_F(XyzSource, AStuckUpstreamIsAnswered504InTimeWhileTheDrawnMapIsServed)
{
    timeoutSeconds = 2;
    tiles.hang = true;
    SourceTable table(testShores(), options());
    ASSERT_TRUE(table.add("type1=" + tiles.spec()).ok());
    {
        const RunningServer service(table);
        std::pair<int, double> remote;
        std::thread waiting([&] { remote = service.get(query); });
        waitFor([&] { return tiles.requests > 0; });
        const auto drawn = service.get("CenP=48,10&Alti=90&Size=400,400&Lang=WLD0407");
        EXPECT_EQ(drawn.first, 200);
        EXPECT_LT(drawn.second, 1.5);
        waiting.join();
        EXPECT_EQ(remote.first, 504);
        EXPECT_GT(remote.second, 1.9);
        EXPECT_LT(remote.second, 3.5);
    }
    tiles.letGo = true;
}

// 300 clients wait on a hung tile server: past its 64 places its own pictures are answered 503
// at once, while a healthy server on the same host (another port) and the drawn map answer
// within a second.
TEST_F(XyzSource, AHungSourceHoldsUpOnlyItsOwnPictures)
{
    timeoutSeconds = 3;
    tiles.hang = true;
    TileServer healthy;
    SourceTable table(testShores(), options());
    ASSERT_TRUE(table.add("EUR0407=" + tiles.spec()).ok());
    ASSERT_TRUE(table.add("USA407=" + healthy.spec()).ok());
    ServerLimits limits;
    limits.maxPerClient = 400;
    {
        const RunningServer service(table, limits);
        constexpr int clients = 300;
        std::vector<std::thread> waiting;
        std::atomic<int> busy{0};
        std::atomic<int> late{0};
        for (int i = 0; i < clients; ++i) {
            waiting.emplace_back([&, i] {
                const int status = service
                                       .get("CenP=" + std::to_string(40 + i % 20) +
                                            ",10&Alti=90&Size=64,64"
                                            "&Lang=EUR0407")
                                       .first;
                (status == 503 ? busy : late) += status == 503 || status == 504 ? 1 : 0;
            });
        }
        waitFor([&] { return busy >= clients - 64; });
        EXPECT_EQ(busy, clients - 64) << "the source's own places are 64";
        const auto other = service.get("CenP=40,-100&Alti=90&Size=64,64&Lang=USA407");
        const auto drawn = service.get("CenP=48,10&Alti=90&Size=400,400&Lang=WLD0407");
        EXPECT_EQ(other.first, 200);
        EXPECT_LT(other.second, 1.0);
        EXPECT_EQ(drawn.first, 200);
        EXPECT_LT(drawn.second, 1.0);
        for (std::thread& t : waiting) {
            t.join();
        }
        EXPECT_EQ(late, 64) << "the waiting pictures end in time";
    }
    tiles.letGo = true;
}

TEST_F(XyzSource, AClientThatHangsUpStopsTheFetching)
{
    tiles.delayMs = 100; // 210 tiles two at a time: ten seconds
    SourceTable table(testShores(), options());
    ASSERT_TRUE(table.add(tiles.spec()).ok());
    const RunningServer service(table);
    httplib::Client client("127.0.0.1", service.port());
    client.set_read_timeout(0, 300'000); // gives up after 0.3 s and closes the connection
    EXPECT_FALSE(client.Get("/pub/agent.dll?CenP=-17,179.9&Alti=45&Size=1999,1999&Lang=EUR0407"));
    client.stop();
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const int asked = tiles.requests;
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_EQ(tiles.requests, asked) << "nothing asked for after two seconds";
    EXPECT_LT(asked, 40);
}

TEST(MapServiceLog, AReaderCutOffAtItsDeadlineIsLoggedWithWhatItGot)
{
    // Noise, so that the picture's GIF is larger than every buffer between the two ends.
    testsupport::TempWorkDir work;
    const std::string noise = work.path().toStdString() + "/noise.tif";
    ASSERT_TRUE(
        testsupport::writeGeotiff(noise, 4326, 99, 11, 0.001, 0.001, 2000, 2000, [](int x, int y) {
            const auto v = static_cast<std::uint32_t>((x * 2654435761u) ^ (y * 40503u));
            return std::array<std::uint8_t, 3>{static_cast<std::uint8_t>(v >> 8),
                                               static_cast<std::uint8_t>(v >> 16),
                                               static_cast<std::uint8_t>(v >> 24)};
        }));
    SourceTable table(testShores(), {});
    ASSERT_TRUE(table.add(noise).ok());
    std::mutex mutex;
    std::vector<AccessRecord> records;
    ServerLimits limits;
    limits.writeTimeout = std::chrono::milliseconds(500);
    const RunningServer service(table, limits, [&](const AccessRecord& record) {
        const std::lock_guard lock(mutex);
        records.push_back(record);
    });
    // A client with a tiny window that reads nothing: the picture cannot get out.
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int small = 4096;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(service.port()));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    const std::string request = "GET /pub/agent.dll?CenP=10,100&Alti=45&Size=4000,4000"
                                "&Lang=WLD0407 HTTP/1.1\r\nHost: x\r\n\r\n";
    ASSERT_EQ(::send(fd, request.data(), request.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(request.size()));
    waitFor([&] {
        const std::lock_guard lock(mutex);
        return !records.empty();
    });
    ::close(fd);
    std::unique_lock lock(mutex);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records.front().status, 200);
    const std::size_t cut = records.front().bodyBytes;
    lock.unlock();
    // The whole picture, as a reader that keeps up gets it.
    httplib::Client reader("127.0.0.1", service.port());
    const auto whole = reader.Get("/pub/agent.dll?CenP=10,100&Alti=45&Size=4000,4000&Lang=WLD0407");
    ASSERT_TRUE(whole);
    EXPECT_LT(cut, whole->body.size()) << "only what reached the client";
}

struct OutcomeCase {
    int curlCode;
    long status;
    bool tooBig;
    int answerStatus; // 0: a body, -1: nothing there
    const char* reason;
};

TEST(Upstream, EachTransferEndsAsABodyNothingOrANamedFailure)
{
    const OutcomeCase cases[] = {
        {CURLE_OK, 200, false, 0, ""},
        {CURLE_OK, 404, false, -1, ""},
        {CURLE_OK, 204, false, -1, ""},
        {CURLE_OK, 503, false, 502, "upstream t.example: status 503 for tile 3/1/2"},
        {CURLE_OK, 302, false, 502, "status 302"},
        {CURLE_OK, 200, true, 502, "tile 3/1/2 is larger than 16 MB"},
        {CURLE_FILESIZE_EXCEEDED, 200, false, 502, "larger than 16 MB"},
        {CURLE_OPERATION_TIMEDOUT, 0, false, 504, "no answer in time for tile 3/1/2"},
        {CURLE_COULDNT_CONNECT, 0, false, 502, "upstream t.example: refused (tile 3/1/2)"},
    };
    for (const OutcomeCase& c : cases) {
        const Fetched f = transferOutcome(c.curlCode, "refused", c.status, c.tooBig, "t.example",
                                          "tile 3/1/2", std::int64_t{16} << 20);
        SCOPED_TRACE(c.reason);
        if (c.answerStatus > 0) {
            ASSERT_FALSE(f);
            EXPECT_EQ(f.error().status, c.answerStatus);
            EXPECT_NE(f.error().text.find(c.reason), std::string::npos) << f.error().text;
        } else {
            ASSERT_TRUE(f);
            EXPECT_EQ(f->has_value(), c.answerStatus == 0);
        }
    }
}

TEST(TileCache, DropsTheLeastRecentlyUsedBeyondItsLimit)
{
    testsupport::TempWorkDir work;
    TileCache cache(work.path().toStdString() + "/cache", 3000);
    const auto put = [&cache](const std::string& key) {
        const auto temporary = cache.temporaryFor(key);
        ASSERT_TRUE(temporary);
        std::ofstream(*temporary) << std::string(1000, 'x');
        ASSERT_TRUE(cache.store(key, *temporary).ok());
    };
    put("s/1/0/0");
    put("s/1/0/1");
    put("s/1/1/0");
    EXPECT_TRUE(cache.find("s/1/0/0")); // used: now the second is the oldest
    put("s/1/1/1");
    EXPECT_TRUE(cache.find("s/1/0/0"));
    EXPECT_FALSE(cache.find("s/1/0/1"));
    EXPECT_TRUE(cache.find("s/1/1/1"));
    EXPECT_LE(cache.bytes(), 3000u);
    // Another process, later: it counts what is on disk.
    TileCache again(work.path().toStdString() + "/cache", 3000);
    EXPECT_EQ(again.bytes(), cache.bytes());
}

struct CoverCase {
    const char* name;
    MapRequest request;
    int zoom;
    std::int64_t west, east, north, south;
};

TEST(TileGrid, CoveringTilesRunOnAcross180AndStopAtTheGridsEdges)
{
    const CoverCase cases[] = {
        {"1 degree at 179.9 E", {-17, 179.9, 45, 1999, 1999}, 12, 4088, 4101, 2237, 2251},
        {"720 degrees at 0: one world and a column", {0, 0, 45 * 720, 1999, 1999}, 2, 0, 4, 0, 3},
        {"beyond 85 N", {89, 0, 45, 1999, 1999}, 12, 0, -1, 0, -1},
    };
    for (const CoverCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Geometry g(c.request);
        const TileRange r = coveringTiles(g, tileZoomFor(g.degreesPerPixel, 19));
        if (c.east < c.west) {
            EXPECT_TRUE(r.empty());
            continue;
        }
        EXPECT_EQ(r.zoom, c.zoom);
        EXPECT_EQ(std::make_tuple(r.west, r.east, r.north, r.south),
                  std::make_tuple(c.west, c.east, c.north, c.south));
    }
    EXPECT_EQ(wrapColumn(4100, 12), 4);
    EXPECT_EQ(wrapColumn(-1, 12), 4095);
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

TEST(WmsSource, APictureAcross180IsAskedForInPiecesOnBothSides)
{
    MapRequest across{0, 180, 45, 1999, 1999};
    const WmsPlan plan = wmsPlan(Geometry(across));
    ASSERT_EQ(plan.pieces.size(), 2u);
    EXPECT_NEAR(plan.pieces[0].west, 179.5, 1e-3);
    EXPECT_DOUBLE_EQ(plan.pieces[0].east, 180);
    EXPECT_DOUBLE_EQ(plan.pieces[1].west, -180); // east of 180, in the next world
    EXPECT_NEAR(plan.pieces[1].east, -179.5, 1e-3);
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
