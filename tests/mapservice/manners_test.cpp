// How the service asks a remote source: the header lines it is given, and no faster than its
// rate.
#include "xyzfixture.h"

#include <future>

namespace {

using namespace mapservice;

class Manners : public testsupport::XyzSource {};

TEST_F(Manners, AHeaderReachesTheUpstreamAndNothingElse)
{
    SourceTable table(testShores(), options());
    ASSERT_TRUE(table.addHeader("EUR0407=X-Api-Key: s3cret-value").ok());
    ASSERT_TRUE(table.add("EUR0407=" + tiles.spec()).ok());
    ASSERT_EQ(answerMapRequest(query, table).status, 200);
    EXPECT_EQ(tiles.apiKeys(), std::set<std::string>{"s3cret-value"});

    tiles.status = 500; // a failure's reason names no header
    const Answer failed = answerMapRequest("CenP=-30,100&Alti=90&Size=400,400&Lang=EUR0407", table);
    EXPECT_EQ(failed.status, 502);
    EXPECT_EQ(failed.body.find("s3cret"), std::string::npos) << failed.body;
    for (const auto& entry :
         std::filesystem::recursive_directory_iterator(work.path().toStdString() + "/cache")) {
        if (!entry.is_regular_file()) {
            continue;
        }
        std::ifstream in(entry.path());
        const std::string content((std::istreambuf_iterator<char>(in)), {});
        EXPECT_EQ(content.find("s3cret"), std::string::npos) << entry.path();
    }
}

// A redirect to another port of the same host is followed, without the header lines, which
// were meant for the address the user named.
TEST_F(Manners, AHeaderDoesNotFollowARedirectToAnotherPort)
{
    testsupport::LoopbackServer redirector;
    redirector.server().Get(".*", [this](const httplib::Request& req, httplib::Response& res) {
        res.set_redirect("http://127.0.0.1:" + std::to_string(tiles.port()) + req.path);
    });
    redirector.start();
    SourceTable table(testShores(), options());
    ASSERT_TRUE(table.addHeader("X-Api-Key: s3cret-value").ok());
    ASSERT_TRUE(table.add("xyz:" + redirector.url() + "/{z}/{x}/{y}.png").ok());
    ASSERT_EQ(answerMapRequest(query, table).status, 200);
    EXPECT_EQ(tiles.apiKeys(), std::set<std::string>{""});
}

TEST(HeaderOption, LinesThatAreNoHeadersOrTheServicesOwnAreRefusedWithoutTheirValue)
{
    for (const char* line :
         {"Host: tiles.example", "user-agent: me", "Pragma: no-cache", "Cache-Control: no-cache",
          "X-Key s3cret", "X-Key: s3cret\r\nX: 1", "X Key: s3cret", ": s3cret"}) {
        SourceTable table(testShores(), testsupport::onServiceLoop());
        const auto added = table.addHeader(line);
        ASSERT_FALSE(added.ok()) << line;
        EXPECT_EQ(added.error().status, 2);
        EXPECT_EQ(added.error().text.find("s3cret"), std::string::npos) << added.error().text;
    }
    SourceTable table(testShores(), testsupport::onServiceLoop());
    EXPECT_TRUE(table.addHeader("Referer: https://maps.example.org/").ok());
    EXPECT_FALSE(table.addMaxRate("0").ok());
    EXPECT_FALSE(table.addMaxRate("1e-320").ok());
    EXPECT_FALSE(table.addMaxRate("0.0009").ok());
    EXPECT_TRUE(table.addMaxRate("0.001").ok());
    EXPECT_FALSE(table.addMaxRate("fast").ok());
    EXPECT_TRUE(table.addMaxRate("type1=2.5").ok());
}

TEST_F(Manners, ARateIsHeldOverFiftyTiles)
{
    SourceTable table(testShores(), options());
    ASSERT_TRUE(table.addMaxRate("5").ok());
    ASSERT_TRUE(table.add(tiles.spec()).ok());
    // About 50 tiles of zoom 11.
    ASSERT_EQ(answerMapRequest("CenP=48,10&Alti=90&Size=600,480&Lang=EUR0407", table).status, 200);
    const auto times = tiles.times();
    ASSERT_GE(times.size(), 40u);
    // Five requests a second: all of them take a fifth of a second each, and the sixth comes at
    // least most of a second after the first, less the jitter of their way to the server on
    // busy cores.
    EXPECT_GE(times.back() - times.front(),
              std::chrono::milliseconds(180) * static_cast<int>(times.size() - 1));
    for (std::size_t i = 0; i + 5 < times.size(); ++i) {
        EXPECT_GE(times[i + 5] - times[i], std::chrono::milliseconds(600)) << "request " << i;
    }
}

// Within the transfers allowed in all, hosts whose requests wait are served in turn: a slow host
// with many tiles asked first does not hold up another host until all its tiles are in.
TEST_F(Manners, HostsAreServedInTurn)
{
    testsupport::TileServer other;
    tiles.delayMs = 50;
    RemoteOptions limited = options();
    limited.transfersInAll = 2;
    SourceTable table(testShores(), testsupport::onServiceLoop(limited));
    ASSERT_TRUE(table.add("EUR0407=" + tiles.spec()).ok());
    ASSERT_TRUE(table.add("USA407=" + other.spec()).ok());
    const testsupport::RunningServer server(table);
    auto slow = std::async(std::launch::async, [&server, this] { return server.get(query); });
    testsupport::waitFor([this] { return tiles.requests.load() > 0; });
    const auto [status, seconds] = server.get("CenP=-30,100&Alti=90&Size=100,100&Lang=USA407");
    EXPECT_EQ(status, 200);
    const int slowHostSoFar = tiles.requests.load();
    EXPECT_EQ(slow.get().first, 200);
    EXPECT_LT(slowHostSoFar, tiles.requests.load()) << "the other host waited for all its tiles";
}

} // namespace
