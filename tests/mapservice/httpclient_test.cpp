// The HTTP client on the service's asio loop, as the service uses it: transfers that end, are
// cancelled or are destroyed from their own handlers, several at once on one loop.
#include "mapservice/network/asioloop.h"
#include "upstreamfakes.h"

#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>

#include <map>
#include <memory>

namespace {

using common::http::Ended;
using common::http::Failure;
using common::http::Handlers;
using common::http::Request;
using common::http::Transfer;
using testsupport::TileServer;

std::string tileUrl(const TileServer& server, int x)
{
    std::string spec = server.spec(); // "xyz:URL/{z}/{x}/{y}.png"
    return spec.substr(4, spec.find("/{z}") - 4) + "/3/" + std::to_string(x) + "/2.png";
}

TEST(HttpClient, TransfersEndOnceEvenWhenTheirHandlersDestroyThemOrOthers)
{
    TileServer tiles;
    tiles.delayMs = 20;
    TileServer hung; // tile 5 comes from it: still in flight when tile 0 ends, on any load
    hung.hang = true;
    boost::asio::io_context io;
    mapservice::AsioCurlLoop loop(io);
    std::map<int, std::unique_ptr<Transfer>> running;
    std::map<int, Ended> ended;
    std::map<int, std::int64_t> bytes;
    const auto start = [&](int x) {
        Request request;
        request.url = tileUrl(x == 5 ? hung : tiles, x);
        request.deadline = common::http::Clock::now() + std::chrono::seconds(20);
        Handlers handlers;
        handlers.body = [&bytes, x](long, const char*, std::size_t size) {
            bytes[x] += static_cast<std::int64_t>(size);
            return true;
        };
        handlers.ended = [&, x](const Ended& e) {
            EXPECT_EQ(ended.count(x), 0u) << "tile " << x << " ended twice";
            ended[x] = e;
            running.erase(x); // destroys the transfer from its own handler
            if (x == 0) {
                running.erase(5); // and another, still in flight: it never ends
            }
        };
        auto transfer = loop.client().start(std::move(request), std::move(handlers));
        ASSERT_TRUE(transfer.ok()) << transfer.error().text;
        running[x] = std::move(transfer).value();
    };
    for (int x = 0; x < 6; ++x) {
        start(x);
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!running.empty() && std::chrono::steady_clock::now() < until) {
        io.run_one_for(std::chrono::milliseconds(100));
    }
    hung.letGo = true;
    ASSERT_TRUE(running.empty());
    EXPECT_EQ(ended.size(), 5u);
    EXPECT_EQ(ended.count(5), 0u) << "a cancelled transfer tells nothing";
    for (const auto& [x, e] : ended) {
        EXPECT_TRUE(e.ok()) << x;
        EXPECT_TRUE(e.complete()) << x;
        EXPECT_EQ(e.bodyBytes, bytes[x]) << x;
        EXPECT_GT(e.bodyBytes, 0) << x;
    }
}

TEST(HttpClient, AFetchPastItsDeadlineEndsAsTimedOutAndTheLoopGoesOn)
{
    TileServer hung;
    hung.hang = true;
    TileServer healthy;
    boost::asio::io_context io;
    mapservice::AsioCurlLoop loop(io);
    std::map<std::string, Ended> ended;
    std::vector<std::unique_ptr<Transfer>> transfers;
    const auto begin = std::chrono::steady_clock::now();
    for (const auto& [name, url, seconds] : {std::tuple{"hung", tileUrl(hung, 1), 1},
                                             std::tuple{"healthy", tileUrl(healthy, 1), 20}}) {
        Request request;
        request.url = url;
        request.deadline = begin + std::chrono::seconds(seconds);
        Handlers handlers;
        handlers.ended = [&ended, name = std::string(name)](const Ended& e) { ended[name] = e; };
        transfers.push_back(loop.client().start(std::move(request), std::move(handlers)).value());
    }
    while (ended.size() < 2 &&
           std::chrono::steady_clock::now() < begin + std::chrono::seconds(20)) {
        io.run_one_for(std::chrono::milliseconds(100));
    }
    hung.letGo = true;
    ASSERT_EQ(ended.size(), 2u);
    EXPECT_EQ(ended["hung"].failure, Failure::TimedOut);
    EXPECT_EQ(common::http::kindOf(ended["hung"]), common::ErrorKind::TimedOut);
    EXPECT_TRUE(ended["healthy"].ok());
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - begin;
    EXPECT_LT(took.count(), 1.0 + 2.0 * testsupport::timeScale) << "the deadline is kept";
}

} // namespace
