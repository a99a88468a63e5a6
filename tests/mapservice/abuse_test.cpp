// The map service process under a bounded storm of random and malformed requests from several
// loopback clients: every complete request gets a 4xx or a GIF, memory stays bounded, and a
// normal tile is still served afterwards.
#include "buildpaths.h"
#include "loopbackclient.h"
#include "serviceprocess.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using testsupport::ask;
using testsupport::connectTo;
using testsupport::statusOf;

constexpr auto stormDuration = std::chrono::seconds(4);
constexpr int clients = 4;

std::string randomQuery(std::mt19937& random)
{
    static const std::vector<std::string> numbers = {"48.5",
                                                     "%2048.5",
                                                     "-0",
                                                     "1e308",
                                                     "-1e308",
                                                     "1e-320",
                                                     "nan",
                                                     "NaN",
                                                     "inf",
                                                     "-inf",
                                                     "99999999999999999999999",
                                                     "0x10",
                                                     "%",
                                                     "%zz",
                                                     "%4",
                                                     "",
                                                     " ",
                                                     "1,2",
                                                     "4000",
                                                     "4001",
                                                     "-1",
                                                     "0",
                                                     "90.0000001",
                                                     "1.5.5",
                                                     "%00",
                                                     "\xff\xfe"};
    const auto pick = [&](const std::vector<std::string>& from) {
        return from[random() % from.size()];
    };
    switch (random() % 7) {
    case 6: // extreme but valid zooms and centres
        return "CenP=" + pick({"0", "90", "-90", "1e-300"}) + "," + pick({"0", "1e300", "-1e300"}) +
               "&Alti=" + pick({"1e308", "1e12", "1e-300", "1e-320"}) +
               "&Size=" + pick({"1", "400", "4000"}) + "," + pick({"1", "400"});
    case 0: // plausible keys, implausible values
        return "CenP=" + pick(numbers) + "," + pick(numbers) + "&Alti=" + pick(numbers) +
               "&Size=" + pick(numbers) + "," + pick(numbers) + "&Lang=" + pick(numbers);
    case 1: { // many keys
        std::string query;
        for (int i = 0; i < 400; ++i) {
            query += "k" + std::to_string(i) + "=" + pick(numbers) + "&";
        }
        return query + "CenP=1,1&Alti=1&Size=8,8";
    }
    case 2: // a very long query
        return "CenP=" + std::string(20000 + random() % 20000, '9') + ",1&Alti=1&Size=1,1";
    case 3: { // random bytes
        std::string query(random() % 300, '\0');
        for (char& c : query) {
            c = static_cast<char>(33 + random() % 94);
        }
        return query;
    }
    case 4: // a real, sometimes large, picture
        return "CenP=" + std::to_string(int(random() % 180) - 90) + "," +
               std::to_string(int(random() % 720) - 360) +
               "&Alti=" + std::to_string(1 + random() % 60000) +
               "&Size=" + std::to_string(1 + random() % 4000) + "," +
               std::to_string(1 + random() % 1200) + "&Lang=WLD0407";
    default: // broken escapes
        return "CenP=%2%20" + pick(numbers) + "%,%" + pick(numbers) + "&Alti=%%%&Size=%31,%3";
    }
}

TEST(MapServiceAbuse, AnswersEveryRequestAndStillServes)
{
    testsupport::ServiceProcess service(testsupport::program("mapservice"));
    const int port = service.port();
    ASSERT_GT(port, 0);

    std::atomic<int> requests{0};
    std::atomic<int> pictures{0};
    std::atomic<int> wrong{0};
    const auto deadline = std::chrono::steady_clock::now() + stormDuration;
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] {
            std::mt19937 random(static_cast<unsigned>(c) * 7919u + 1);
            while (std::chrono::steady_clock::now() < deadline) {
                if (random() % 8 == 0) { // a slow client that stops in the middle of its request
                    const int fd = connectTo(port);
                    const std::string part = "GET /pub/agent.dll?CenP=1,";
                    ::send(fd, part.data(), part.size(), MSG_NOSIGNAL);
                    ::close(fd);
                    continue;
                }
                const std::string answer =
                    ask(port, "GET /pub/agent.dll?" + randomQuery(random) +
                                  " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
                ++requests;
                const int status = statusOf(answer);
                const auto body = answer.find("\r\n\r\n");
                if (status == 200 && body != std::string::npos &&
                    answer.compare(body + 4, 4, "GIF8") == 0) {
                    ++pictures;
                } else if (status < 400 || status > 499) {
                    ++wrong;
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    const double peak = service.peakMegabytes();
    const std::string normal =
        ask(port, "GET /pub/agent.dll?CenP=%2048.500001,%2011.250001&Lang=EUR0407&Alti=%20150"
                  "&Size=1999,1999 HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    service.stop();
    EXPECT_TRUE(service.endedWell());

    std::printf("abuse: %d requests, %d pictures, peak memory %.0f MB\n", requests.load(),
                pictures.load(), peak);
    EXPECT_GT(requests, 50);
    EXPECT_GT(pictures, 0);
    EXPECT_EQ(wrong, 0);
    EXPECT_LT(peak, 600);
    EXPECT_EQ(statusOf(normal), 200);
}

} // namespace

namespace {

// Requests whose framing or target a careless server gets wrong.
TEST(MapServiceEdges, FramingAndTargetsAsTheHttpRulesSay)
{
    testsupport::ServiceProcess service(testsupport::program("mapservice"));
    const int port = service.port();
    ASSERT_GT(port, 0);
    const std::string query = "/pub/agent.dll?CenP=1,1&Alti=1&Size=9,9";
    const std::string hidden = "GET " + query + " HTTP/1.1\r\nHost: x\r\n\r\n";
    const struct {
        std::string request;
        int status;
        bool closed; // the connection ends after the answer
    } cases[] = {
        // A body framed by gzip alone cannot be delimited: the request hidden in it is never
        // answered.
        {"GET " + query + " HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: gzip\r\n\r\n" + hidden, 400,
         true},
        {"GET http://127.0.0.1:" + std::to_string(port) + query + " HTTP/1.1\r\nHost: x\r\n\r\n",
         200, false},
        {"GET /pub/agent.dll?CenP=0,1e308&Alti=1&Size=9,9 HTTP/1.1\r\nHost: x\r\n\r\n", 400, false},
    };
    for (const auto& c : cases) {
        const int fd = testsupport::connectTo(port);
        const std::string answer = testsupport::roundTrip(fd, c.request);
        EXPECT_EQ(statusOf(answer), c.status) << c.request;
        EXPECT_EQ(testsupport::closedByPeer(fd, std::chrono::milliseconds(c.closed ? 3000 : 300)),
                  c.closed)
            << c.request;
        ::close(fd);
    }
    service.stop();
    EXPECT_TRUE(service.endedWell());
}

} // namespace
