// Pictures from a tile server that is slow, stuck or hung, or whose clients hang up: every
// picture ends in time, and a stuck server holds up nothing but its own pictures.
#include "upstreamfakes.h"
#include "xyzfixture.h"

#include <algorithm>
#include <future>
#include <set>
#include <tuple>

namespace {

using namespace mapservice;
using testsupport::RunningServer;
using testsupport::TileServer;
using testsupport::waitFor;
using testsupport::XyzSource;

TEST_F(XyzSource, AnUpstreamTooSlowIsAnsweredAsATimeOut)
{
    timeoutSeconds = 1;
    tiles.delayMs = 2500;
    const Answer slow = ask("CenP=48.01,10.01&Alti=90&Size=20,20&Lang=EUR0407"); // one tile
    EXPECT_EQ(slow.status, 504) << slow.body;
}

TEST_F(XyzSource, AStuckUpstreamIsAnswered504InTimeWhileTheDrawnMapIsServed)
{
    clock = &manual;
    timeoutSeconds = 2;
    tiles.hang = true;
    SourceTable table(testShores(), options());
    ASSERT_TRUE(table.add("type1=" + tiles.spec()).ok());
    {
        const RunningServer service(table);
        std::pair<int, double> remote{0, 0};
        std::atomic<bool> answered{false};
        std::thread waiting([&] {
            remote = service.get(query);
            answered = true;
        });
        waitFor([&] { return tiles.requests > 0; });
        const auto drawn = service.get("CenP=48,10&Alti=90&Size=400,400&Lang=WLD0407");
        EXPECT_EQ(drawn.first, 200);
        EXPECT_FALSE(answered) << "the stuck picture waits for its time-out";
        manual.advance(std::chrono::milliseconds(1900));
        manual.advance(std::chrono::milliseconds(200)); // its time-out has come
        waiting.join();
        EXPECT_EQ(remote.first, 504);
    }
    tiles.letGo = true;
}

// 300 clients wait on a hung tile server: past its 64 places its own pictures are answered 503
// at once, while a healthy server on the same host (another port) and the drawn map answer
// within a second.
TEST_F(XyzSource, AHungSourceHoldsUpOnlyItsOwnPictures)
{
    clock = &manual;
    timeoutSeconds = 5;
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
        // Answered while the hung source's pictures all still wait: no time has passed.
        const auto other = service.get("CenP=40,-100&Alti=90&Size=64,64&Lang=USA407");
        const auto drawn = service.get("CenP=48,10&Alti=90&Size=400,400&Lang=WLD0407");
        EXPECT_EQ(other.first, 200);
        EXPECT_EQ(drawn.first, 200);
        EXPECT_EQ(late, 0);
        manual.advance(std::chrono::seconds(timeoutSeconds));
        for (std::thread& t : waiting) {
            t.join();
        }
        EXPECT_EQ(late, 64) << "the waiting pictures end in time";
    }
    tiles.letGo = true;
}

// Fetching, decoding and warping share one time-out from the picture's arrival: a picture whose
// tiles came but that is drawn only after it is answered 504 and holds no drawing thread.
TEST_F(XyzSource, APictureNotDrawnWithinTheTimeOutIsAnswered504)
{
    ASSERT_EQ(ask(query).status, 200); // the tiles are in the cache, so gathering is quick
    clock = &manual;
    timeoutSeconds = 2;
    SourceTable table(testShores(), options());
    ASSERT_TRUE(table.add(tiles.spec()).ok());
    const auto request = readMapRequest(query);
    ASSERT_TRUE(request.ok());
    const auto tilesCame = gatherNow(table, *request);
    ASSERT_TRUE(tilesCame.ok()) << tilesCame.error().text;
    manual.advance(std::chrono::milliseconds(2100));
    const auto late = table.drawGathered(*request, tilesCame->get(), {});
    ASSERT_FALSE(late.ok());
    EXPECT_EQ(late.error().status, 504);
    EXPECT_NE(late.error().text.find("within the time-out"), std::string::npos)
        << late.error().text;
}

TEST_F(XyzSource, AClientThatHangsUpStopsTheFetching)
{
    tiles.hang = true; // 210 tiles, each held until they are let go
    SourceTable table(testShores(), options());
    ASSERT_TRUE(table.add(tiles.spec()).ok());
    const RunningServer service(table);
    httplib::Client client("127.0.0.1", service.port());
    client.set_read_timeout(0, 300'000); // gives up after 0.3 s and closes the connection
    EXPECT_FALSE(client.Get("/pub/agent.dll?CenP=-17,179.9&Alti=45&Size=1999,1999&Lang=EUR0407"));
    client.stop();
    const auto zoomOf = [](const std::set<std::tuple<int, int, int>>& asked) {
        return asked.empty() ? -1 : std::get<0>(*asked.rbegin());
    };
    const int zoom = zoomOf(tiles.asked());
    ASSERT_GT(zoom, 0);
    tiles.letGo = true;
    // A picture asked for afterwards waits behind whatever the first still has queued for the
    // same server: once it is answered, everything the first would have fetched has been.
    EXPECT_EQ(service.get("CenP=40,10&Alti=20000&Size=200,200&Lang=EUR0407").first, 200);
    const auto asked = tiles.asked();
    const auto ofFirst = std::count_if(asked.begin(), asked.end(),
                                       [zoom](const auto& t) { return std::get<0>(t) == zoom; });
    EXPECT_LT(ofFirst, 40);
}

} // namespace
