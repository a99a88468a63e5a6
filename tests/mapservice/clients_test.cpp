// The map service process under clients that are slow, many, idle, malformed or too eager:
// ordinary clients keep being served, every answer belongs to its request, the service closes
// what it must and stops promptly. Clients that stand for different hosts connect from
// different addresses in 127.0.0.0/8.
#include "buildpaths.h"
#include "serviceclients.h"

namespace {

using namespace std::chrono_literals;
using namespace testsupport;

TEST(MapServiceClients, SlowHeadersAreCutAtTheirDeadlineWhileOthersAreServed)
{
    ServiceProcess service(testsupport::program("mapservice"));
    ASSERT_GT(service.port(), 0);
    const auto start = Clock::now();
    std::vector<int> slow = openConnections(service.port(), 200, 16, 2);
    ASSERT_EQ(std::count(slow.begin(), slow.end(), -1), 0);
    const std::string begun = "GET /pub/agent.dll?CenP=1,1&Alti=1&Size=8,8 HTTP/1.1\r\nX";
    for (const int fd : slow) {
        ::send(fd, begun.data(), begun.size(), MSG_NOSIGNAL);
    }
    OrdinaryClient ordinary(service.port());
    // One more byte of the header each second from every slow client.
    const auto closedAt =
        waitForClosing(slow, start, 30s, [](int fd) { ::send(fd, "X", 1, MSG_NOSIGNAL); });
    ordinary.finish();

    const double first = *std::min_element(closedAt.begin(), closedAt.end());
    const double last = *std::max_element(closedAt.begin(), closedAt.end());
    std::printf("slow headers: %d of 200 closed, from %.1f s to %.1f s; ordinary: %d served, "
                "%d failed, worst %.3f s\n",
                countClosed(closedAt), first, last, ordinary.served(), ordinary.failed(),
                ordinary.worstSeconds());
    EXPECT_EQ(countClosed(closedAt), 200);
    EXPECT_GT(first, 9.0) << "the deadline is ten seconds from the first byte";
    EXPECT_GT(ordinary.served(), 10);
    EXPECT_EQ(ordinary.failed(), 0);
    EXPECT_LT(ordinary.worstSeconds(), 2.0);
    EXPECT_LT(service.stop(), 1.0);
    EXPECT_TRUE(service.endedWell());
}

TEST(MapServiceClients, IdleConnectionsAreClosedAndEachClientHasItsShare)
{
    ServiceProcess service(testsupport::program("mapservice"));
    ASSERT_GT(service.port(), 0);
    const auto start = Clock::now();
    std::vector<int> idle = openConnections(service.port(), 400, 16, 20);
    ASSERT_EQ(std::count(idle.begin(), idle.end(), -1), 0);
    OrdinaryClient ordinary(service.port());

    // A seventeenth connection from a host that holds sixteen is closed at once; the others
    // stay open.
    const int extra = connectFrom(host(20).c_str(), service.port());
    ASSERT_GE(extra, 0);
    EXPECT_TRUE(closedByPeer(extra, 2000ms));
    ::close(extra);
    EXPECT_FALSE(closedByPeer(idle[15], 0ms));

    const auto closedAt = waitForClosing(idle, start, 20s);
    ordinary.finish();
    std::printf("idle: %d of 400 closed by %.1f s; ordinary: %d served, worst %.3f s\n",
                countClosed(closedAt), *std::max_element(closedAt.begin(), closedAt.end()),
                ordinary.served(), ordinary.worstSeconds());
    EXPECT_EQ(countClosed(closedAt), 400);
    EXPECT_EQ(ordinary.failed(), 0);
    EXPECT_LT(ordinary.worstSeconds(), 2.0);

    // The host that was turned away is served once its connections are gone.
    const int again = connectFrom(host(20).c_str(), service.port());
    EXPECT_TRUE(isPicture(roundTrip(again, mapRequest(64, 64)), 64, 64));
    ::close(again);
}

// One of the malformed requests mixed into a client's stream, and the status it must get.
struct Malformed {
    std::string request;
    int status;
    bool closes; // the service ends the connection after it
};

const Malformed malformed[] = {
    {"GET /pub/agent.dll?CenP=abc&Alti=1&Size=9,9 HTTP/1.1\r\nHost: x\r\n\r\n", 400, false},
    {"GET /pub/agent.dll?CenP=1,1&Alti=1&Size=5000,9 HTTP/1.1\r\nHost: x\r\n\r\n", 400, false},
    {"GET /elsewhere HTTP/1.1\r\nHost: x\r\n\r\n", 404, false},
    {"POST /pub/agent.dll HTTP/1.1\r\nHost: x\r\nContent-Length: 3\r\n\r\nabc", 405, false},
    {"GET /pub/agent.dll?CenP=1,1 HTTP/1.1\r\nHost: x\r\nContent-Length: 99999999\r\n\r\n", 413,
     true},
    {"BROKEN\x01 / HTTP/1.1\r\n\r\n", 400, true},
    {"GET /pub/agent.dll?CenP=1,1 HTTP/1.1\r\nno colon here\r\n\r\n", 400, true},
};

TEST(MapServiceClients, ManyClientsMixedWithMalformedRequestsGetTheirOwnAnswers)
{
    ServiceProcess service(testsupport::program("mapservice"));
    ASSERT_GT(service.port(), 0);
    constexpr int clients = 8;
    constexpr int requests = 200;
    std::atomic<int> wrong{0};
    std::atomic<int> pictures{0};
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] {
            const std::string from = host(60 + c);
            int fd = connectFrom(from.c_str(), service.port());
            for (int i = 0; i < requests; ++i) {
                if (i % 4 == 3) {
                    const Malformed& bad = malformed[(i / 4 + c) % std::size(malformed)];
                    if (statusOf(roundTrip(fd, bad.request)) != bad.status) {
                        ++wrong;
                    }
                    if (bad.closes) {
                        ::close(fd);
                        fd = connectFrom(from.c_str(), service.port());
                    }
                    continue;
                }
                const int width = 16 + (i * 37 + c * 11) % 400;
                const int height = 16 + (i * 53 + c * 7) % 300;
                if (isPicture(roundTrip(fd, mapRequest(width, height)), width, height)) {
                    ++pictures;
                } else {
                    ++wrong;
                }
            }
            ::close(fd);
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    const double peak = service.peakMegabytes();
    std::printf("mixed: %d pictures, %d wrong answers, peak memory %.0f MB\n", pictures.load(),
                wrong.load(), peak);
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(pictures, clients * requests * 3 / 4);
    EXPECT_LT(peak, 600);
    EXPECT_LT(service.stop(), 1.0);
    EXPECT_TRUE(service.endedWell());
}

TEST(MapServiceClients, AFullQueueIsAnsweredAtOnceWithRetryAfter)
{
    ServiceProcess service(testsupport::program("mapservice"), {"--queue", "0"});
    ASSERT_GT(service.port(), 0);
    // More large pictures at once than the service has drawing slots.
    const int clients = 2 * static_cast<int>(std::max(2u, std::thread::hardware_concurrency())) + 2;
    std::vector<std::string> answers(static_cast<std::size_t>(clients));
    std::vector<int> fds = openConnections(service.port(), clients, 1, 80);
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] { answers[c] = roundTrip(fds[c], mapRequest(1999, 1999)); });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    int drawn = 0;
    int busy = 0;
    for (const std::string& answer : answers) {
        if (isPicture(answer, 1999, 1999)) {
            ++drawn;
        } else if (statusOf(answer) == 503) {
            ++busy;
            EXPECT_NE(answer.find("\r\nRetry-After: 1\r\n"), std::string::npos) << answer;
        }
    }
    for (const int fd : fds) {
        ::close(fd);
    }
    EXPECT_GE(drawn, 2);
    EXPECT_GE(busy, 1);
    EXPECT_EQ(drawn + busy, clients);
    EXPECT_TRUE(isPicture(testsupport::ask(service.port(), mapRequest(99, 99, "close")), 99, 99));
}

TEST(MapServiceClients, TheHeaderDeadlineCountsFromEachRequestsFirstByte)
{
    ServiceProcess service(testsupport::program("mapservice"), {"--header-timeout", "1"});
    ASSERT_GT(service.port(), 0);
    // A kept-alive connection older than the deadline is still served.
    const int busy = connectFrom("127.0.0.1", service.port());
    int served = 0;
    const auto start = Clock::now();
    while (Clock::now() - start < 2500ms) {
        served += isPicture(roundTrip(busy, mapRequest(32, 32)), 32, 32) ? 1 : 0;
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_GE(served, 10);
    EXPECT_TRUE(isPicture(roundTrip(busy, mapRequest(33, 33)), 33, 33));
    ::close(busy);

    // A header that trickles in, a byte every tenth of a second, is cut after a second.
    const int slow = connectFrom("127.0.0.2", service.port());
    const auto begun = Clock::now();
    bool closed = false;
    for (int i = 0; i < 50 && !closed; ++i) {
        ::send(slow, "G", 1, MSG_NOSIGNAL);
        closed = closedByPeer(slow, 100ms);
    }
    const double after = secondsSince(begun);
    ::close(slow);
    EXPECT_TRUE(closed);
    EXPECT_GT(after, 0.9);
    EXPECT_LT(after, 4.0);
}

} // namespace
