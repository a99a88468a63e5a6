// Pictures from a slippy-map tile server, played here by a server on 127.0.0.1 whose tiles
// are flat colours: what is asked for and what arrives, what the cache saves, what missing
// tiles and a failing, stuck or flooding upstream give.
#include "upstreamfakes.h"
#include "xyzfixture.h"

#include <filesystem>
#include <sched.h>
#include <sys/mount.h>

namespace {

using namespace mapservice;
using testsupport::png;
using testsupport::RunningServer;
using testsupport::TileServer;
using testsupport::waitFor;
using testsupport::XyzSource;

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

// A source answers the tiles it found fresh lately without looking again, but never from a
// file that has gone: another service sharing the cache may have evicted it.
TEST_F(XyzSource, ATileEvictedMeanwhileIsFetchedAgain)
{
    SourceTable table(testShores(), options());
    ASSERT_TRUE(table.add(tiles.spec()).ok());
    ASSERT_EQ(answerMapRequest(query, table).status, 200);
    const int asked = tiles.requests;
    ASSERT_EQ(answerMapRequest(query, table).status, 200);
    EXPECT_EQ(tiles.requests, asked);
    for (const auto& entry :
         std::filesystem::recursive_directory_iterator((work.path() + "/cache").toStdString())) {
        if (entry.is_regular_file() && entry.path().native().find("/11/") != std::string::npos) {
            std::filesystem::remove(entry.path());
        }
    }
    EXPECT_EQ(answerMapRequest(query, table).status, 200);
    EXPECT_EQ(tiles.requests, 2 * asked);
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

// A tile of noise from |seed|: about 200 KB of PNG that no file system compresses.
std::string noisePng(std::uint32_t seed)
{
    QImage noise(256, 256, QImage::Format_RGB32);
    std::uint32_t state = seed;
    for (int i = 0; i < 256 * 256; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        noise.setPixel(i % 256, i / 256, state);
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    noise.save(&buffer, "PNG");
    return bytes.toStdString();
}

// A cache smaller than one picture's tiles (a megabyte, tiles of 197 kB) keeps them while the
// picture is drawn; a full file system makes room, and the tile is fetched once more.
TEST_F(XyzSource, TheCacheNeverFailsAPictureForItsOwnSize)
{
    tiles.body = noisePng(1);
    cacheMegabytes = 1;
    const Answer small = ask(query);
    EXPECT_EQ(small.status, 200) << small.body;

    // A file system of its own for the cache, in a mount namespace of this process's own.
    const std::string cache = (work.path() + QStringLiteral("/cache")).toStdString();
    std::filesystem::remove_all(cache);
    std::filesystem::create_directory(cache);
    if (::geteuid() != 0 || ::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", cache.c_str(), "tmpfs", 0, "size=4m") != 0) {
        GTEST_SKIP() << "a file system of a few megabytes needs root";
    }
    // An earlier picture's tiles fill the file system to its last byte.
    for (int i = 0; std::ofstream(cache + "/old" + std::to_string(i)) << std::string(1 << 16, 'x');
         ++i) {
    }
    cacheMegabytes = 64;
    tiles.body.clear(); // small tiles again: the picture's fit once the old ones go
    const Answer full = ask("CenP=-30,100&Alti=90&Size=400,400&Lang=EUR0407");
    ::umount2(cache.c_str(), MNT_DETACH);
    EXPECT_EQ(full.status, 200) << full.body;
}

// On a full file system a picture's tiles stay only while it is drawn: the next pictures make
// room by dropping them; a picture whose own tiles cannot fit is a 503 saying so.
TEST_F(XyzSource, AFullCacheKeepsAnsweringAndSaysWhenItCannot)
{
    tiles.body = noisePng(7);
    const std::string cache = (work.path() + QStringLiteral("/cache")).toStdString();
    std::filesystem::create_directory(cache);
    if (::geteuid() != 0 || ::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", cache.c_str(), "tmpfs", 0, "size=8m") != 0) {
        GTEST_SKIP() << "a file system of a few megabytes needs root";
    }
    SourceTable table(testShores(), options()); // its threads in this mount namespace
    ASSERT_TRUE(table.add(tiles.spec()).ok());
    std::vector<int> statuses;
    for (int lon = 0; lon < 60; lon += 10) { // each 16 to 25 tiles: two do not fit together
        statuses.push_back(answerMapRequest("CenP=20," + std::to_string(lon) +
                                                "&Alti=90&Size=200,200&Lang=EUR0407",
                                            table)
                               .status);
    }
    const Answer tooLarge =
        answerMapRequest("CenP=-20,100&Alti=90&Size=1200,1200&Lang=EUR0407", table);
    ::umount2(cache.c_str(), MNT_DETACH);
    EXPECT_EQ(statuses, std::vector<int>(6, 200));
    EXPECT_EQ(tooLarge.status, 503);
    EXPECT_NE(tooLarge.body.find("cache folder full"), std::string::npos) << tooLarge.body;
}

// What an upstream or the cache does wrong is named as it is: a redirect to another host (not
// followed), a header past libcurl's limit, a cache on a read-only file system.
TEST_F(XyzSource, FaultsAreNamedTruly)
{
    testsupport::LoopbackServer odd;
    const std::string tilesUrl = tiles.spec().substr(4, tiles.spec().find("/{z}") - 4);
    odd.server().Get(R"(/same/(\d+)/(\d+)/(\d+)\.png)", [&](const auto& req, auto& res) {
        res.set_redirect(tilesUrl + "/" + std::string(req.matches[1]) + "/" +
                         std::string(req.matches[2]) + "/" + std::string(req.matches[3]) + ".png");
    });
    odd.server().Get(R"(/elsewhere/.*)", [&](const auto&, auto& res) {
        res.set_redirect("http://localhost:" + std::to_string(odd.port()) + "/x.png");
    });
    odd.server().Get(R"(/header/.*)", [](const auto&, auto& res) {
        res.set_header("X-Padding", std::string(200'000, 'x'));
        res.set_content("x", "image/png");
    });
    odd.start();
    const struct {
        const char* path;
        int status;
        const char* reason;
    } cases[] = {
        {"/same", 200, ""},
        {"/elsewhere", 502, "redirected to another host, http://localhost, which is not followed"},
        {"/header", 502, "header too large"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        SourceTable table(testShores(), options());
        ASSERT_TRUE(table.add("xyz:" + odd.url() + c.path + "/{z}/{x}/{y}.png").ok());
        const Answer answer = answerMapRequest(query, table);
        EXPECT_EQ(answer.status, c.status) << answer.body;
        EXPECT_NE(answer.body.find(c.reason), std::string::npos) << answer.body;
    }

    const std::string cache = (work.path() + QStringLiteral("/cache")).toStdString();
    std::filesystem::remove_all(cache);
    std::filesystem::create_directory(cache);
    if (::geteuid() != 0 || ::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", cache.c_str(), "tmpfs", MS_RDONLY, "size=1m") != 0) {
        GTEST_SKIP() << "a read-only file system needs root";
    }
    const Answer readOnly = ask("CenP=-30,100&Alti=90&Size=400,400&Lang=EUR0407");
    ::umount2(cache.c_str(), MNT_DETACH);
    EXPECT_EQ(readOnly.status, 500);
    EXPECT_NE(readOnly.body.find("Read-only file system"), std::string::npos) << readOnly.body;
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
        RemoteOptions remote;
        remote.cacheFolder = (fresh.path() + QStringLiteral("/cache")).toStdString();
        SourceTable table(testShores(), testsupport::onServiceLoop(remote));
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

} // namespace
