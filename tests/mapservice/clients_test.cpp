// The map service process under clients that are slow, many, idle, malformed or too eager:
// ordinary clients keep being served, every answer belongs to its request, the service closes
// what it must and stops promptly. Clients that stand for different hosts connect from
// different addresses in 127.0.0.0/8.
#include "loopbackclient.h"
#include "loopbackserver.h"
#include "serviceprocess.h"

#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using testsupport::closedByPeer;
using testsupport::connectFrom;
using testsupport::roundTrip;
using testsupport::ServiceProcess;
using testsupport::statusOf;
using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string host(int n)
{
    return "127.0.0." + std::to_string(n);
}

std::string mapRequest(int width, int height, const char* connection = "keep-alive")
{
    return "GET /pub/agent.dll?CenP=%2048.5,%2011.25&Alti=%20150&Lang=EUR0407&Size=" +
           std::to_string(width) + "," + std::to_string(height) +
           " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: " + connection + "\r\n\r\n";
}

// Whether |answer| is a whole GIF of |width| x |height| pixels: the picture asked for, not
// another client's.
bool isPicture(const std::string& answer, int width, int height)
{
    const auto body = answer.find("\r\n\r\n");
    if (statusOf(answer) != 200 || body == std::string::npos || answer.size() < body + 14 ||
        answer.compare(body + 4, 4, "GIF8") != 0) {
        return false;
    }
    const auto byte = [&](std::size_t i) {
        return static_cast<unsigned char>(answer[body + 4 + i]);
    };
    return byte(6) + 256 * byte(7) == width && byte(8) + 256 * byte(9) == height &&
           answer.size() == body + 4 + *testsupport::bodyLength(answer);
}

// An ordinary client on 127.0.0.1 asking for a small picture every tenth of a second, on a
// connection of its own each time, until it is destroyed.
class OrdinaryClient {
public:
    explicit OrdinaryClient(int port)
        : thread_([this, port] {
              while (!stop_) {
                  const auto start = Clock::now();
                  const int fd = connectFrom("127.0.0.1", port, 10);
                  const bool ok =
                      fd >= 0 && isPicture(roundTrip(fd, mapRequest(256, 256, "close")), 256, 256);
                  if (fd >= 0) {
                      ::close(fd);
                  }
                  const double took = secondsSince(start);
                  {
                      const std::lock_guard lock(mutex_);
                      (ok ? served_ : failed_) += 1;
                      worst_ = std::max(worst_, took);
                  }
                  std::this_thread::sleep_for(100ms);
              }
          })
    {}
    ~OrdinaryClient() { finish(); }
    OrdinaryClient(const OrdinaryClient&) = delete;
    OrdinaryClient& operator=(const OrdinaryClient&) = delete;

    void finish()
    {
        stop_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    int served() const { return served_; }
    int failed() const { return failed_; }
    double worstSeconds() const { return worst_; }

private:
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    int served_ = 0;
    int failed_ = 0;
    double worst_ = 0;
    std::thread thread_;
};

// Opens |count| connections, |perHost| from each address from 127.0.0.|firstHost| on.
std::vector<int> openConnections(int port, int count, int perHost, int firstHost)
{
    std::vector<int> fds;
    for (int i = 0; i < count; ++i) {
        fds.push_back(connectFrom(host(firstHost + i / perHost).c_str(), port));
    }
    return fds;
}

// Waits, at most |limit|, until the service has closed every one of |fds|; the seconds after
// |start| at which each was seen closed, -1 for those still open. |eachSecond| runs once a
// second on the ones still open.
std::vector<double> waitForClosing(std::vector<int>& fds, Clock::time_point start,
                                   std::chrono::seconds limit,
                                   const std::function<void(int)>& eachSecond = {})
{
    std::vector<double> closedAt(fds.size(), -1);
    for (auto next = Clock::now(); Clock::now() - start < limit; next += 1s) {
        int open = 0;
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (closedAt[i] >= 0) {
                continue;
            }
            if (eachSecond) {
                eachSecond(fds[i]);
            }
            if (closedByPeer(fds[i], 0ms)) {
                closedAt[i] = secondsSince(start);
                ::close(fds[i]);
            } else {
                ++open;
            }
        }
        if (open == 0) {
            break;
        }
        std::this_thread::sleep_until(next + 1s);
    }
    for (std::size_t i = 0; i < fds.size(); ++i) {
        if (closedAt[i] < 0) {
            ::close(fds[i]);
        }
    }
    return closedAt;
}

int countClosed(const std::vector<double>& closedAt)
{
    return static_cast<int>(
        std::count_if(closedAt.begin(), closedAt.end(), [](double t) { return t >= 0; }));
}

TEST(MapServiceClients, SlowHeadersAreCutAtTheirDeadlineWhileOthersAreServed)
{
    ServiceProcess service(MAPSERVICE_BIN);
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
    ServiceProcess service(MAPSERVICE_BIN);
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
    ServiceProcess service(MAPSERVICE_BIN);
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
    ServiceProcess service(MAPSERVICE_BIN, {"--queue", "0"});
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
    ServiceProcess service(MAPSERVICE_BIN, {"--header-timeout", "1"});
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

TEST(MapServiceClients, AStopUnderLoadTakesLessThanASecond)
{
    ServiceProcess service(MAPSERVICE_BIN);
    ASSERT_GT(service.port(), 0);
    std::atomic<bool> stopping{false};
    std::atomic<int> pictures{0};
    std::vector<std::thread> threads;
    for (int c = 0; c < 8; ++c) {
        threads.emplace_back([&, c] {
            const int fd = connectFrom(host(100 + c).c_str(), service.port(), 5);
            while (!stopping && isPicture(roundTrip(fd, mapRequest(1999, 1999)), 1999, 1999)) {
                ++pictures;
            }
            ::close(fd);
        });
    }
    std::vector<int> idle = openConnections(service.port(), 50, 10, 110);
    while (pictures < 8) {
        std::this_thread::sleep_for(10ms);
    }
    const double took = service.stop();
    stopping = true;
    for (auto& thread : threads) {
        thread.join();
    }
    for (const int fd : idle) {
        ::close(fd);
    }
    std::printf("stop under load: %.3f s after %d pictures\n", took, pictures.load());
    EXPECT_LT(took, 1.0);
    EXPECT_TRUE(service.endedWell());
}

TEST(MapServiceClients, AStopDoesNotWaitForAPictureStillBeingDrawn)
{
    // A tile server that keeps every tile until it is let go.
    std::atomic<bool> letGo{false};
    std::atomic<int> asked{0};
    testsupport::LoopbackServer upstream;
    upstream.server().Get(".*", [&](const httplib::Request&, httplib::Response& res) {
        ++asked;
        for (int i = 0; i < 1000 && !letGo; ++i) {
            std::this_thread::sleep_for(10ms);
        }
        res.status = 404;
    });
    upstream.start();
    const std::string cache = ::testing::TempDir() + "mapservice-stop-cache";
    ServiceProcess service(
        MAPSERVICE_BIN,
        {"--source", "xyz:" + upstream.url() + "/{z}/{x}/{y}.png", "--cache", cache});
    ASSERT_GT(service.port(), 0);
    const int fd = connectFrom("127.0.0.1", service.port());
    const std::string request = mapRequest(400, 400);
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    while (asked == 0) {
        std::this_thread::sleep_for(10ms);
    }
    const double took = service.stop();
    letGo = true;
    ::close(fd);
    EXPECT_LT(took, 1.0);
    EXPECT_TRUE(service.endedWell());
}

// The access log's lines for |answers| requests, from the service's standard error.
std::vector<QStringList> logLines(const std::string& file)
{
    std::ifstream in(file);
    std::vector<QStringList> lines;
    for (std::string line; std::getline(in, line);) {
        const QStringList fields = QString::fromStdString(line).split(u'\t');
        if (fields.size() == 7) {
            lines.push_back(fields);
        }
    }
    return lines;
}

TEST(MapServiceClients, TheAccessLogHasALinePerRequest)
{
    const std::string logFile = ::testing::TempDir() + "mapservice-access.log";
    ServiceProcess service(MAPSERVICE_BIN, {"--log"}, logFile);
    ASSERT_GT(service.port(), 0);
    const int fd = connectFrom("127.0.0.1", service.port());
    const std::string picture = roundTrip(fd, mapRequest(50, 40));
    const std::string missing = roundTrip(fd, "GET /nothing?a=b HTTP/1.1\r\nHost: x\r\n\r\n");
    const std::string head =
        roundTrip(fd, "HEAD /pub/agent.dll?CenP=1,1&Alti=1&Size=9,9 HTTP/1.1\r\nHost: x\r\n"
                      "Connection: close\r\n\r\n");
    ::close(fd);
    service.stop();

    const auto lines = logLines(logFile);
    ASSERT_EQ(lines.size(), 3u);
    const QRegularExpression utc(QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z$)"));
    const struct {
        const char* method;
        const char* target;
        int status;
        std::size_t bytes;
    } expected[] = {
        {"GET", "/pub/agent.dll?CenP=%2048.5,%2011.25&Alti=%20150&Lang=EUR0407&Size=50,40", 200,
         *testsupport::bodyLength(picture)},
        {"GET", "/nothing?a=b", 404, *testsupport::bodyLength(missing)},
        {"HEAD", "/pub/agent.dll?CenP=1,1&Alti=1&Size=9,9", 200, 0},
    };
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const QStringList& f = lines[i];
        EXPECT_TRUE(utc.match(f[0]).hasMatch()) << f[0].toStdString();
        EXPECT_EQ(f[1], QStringLiteral("127.0.0.1"));
        EXPECT_EQ(f[2], QString::fromLatin1(expected[i].method));
        EXPECT_EQ(f[3], QString::fromLatin1(expected[i].target));
        EXPECT_EQ(f[4].toInt(), expected[i].status);
        EXPECT_EQ(f[5].toULongLong(), expected[i].bytes);
        bool number = false;
        EXPECT_GE(f[6].toDouble(&number), 0.0);
        EXPECT_TRUE(number);
    }
    EXPECT_EQ(statusOf(head), 200);
}

TEST(MapServiceClients, AnAccessLogThatNobodyReadsHoldsUpNoRequest)
{
    const std::string fifo = ::testing::TempDir() + "mapservice-log-fifo";
    ::unlink(fifo.c_str());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // Held open but not read until the requests are served: the pipe fills after some 900 lines.
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ServiceProcess service(MAPSERVICE_BIN, {"--log"}, fifo);
    ASSERT_GT(service.port(), 0);
    const int fd = connectFrom("127.0.0.1", service.port());
    const std::string request = "GET /nothing HTTP/1.1\r\nHost: x\r\n\r\n";
    int answered = 0;
    for (int i = 0; i < 1500; ++i) {
        answered += statusOf(roundTrip(fd, request)) == 404 ? 1 : 0;
    }
    EXPECT_EQ(answered, 1500);
    // Read now, every line comes: the queue held what the pipe could not.
    std::size_t lines = 0;
    char buffer[65536];
    for (const auto deadline = Clock::now() + 5s; lines < 1500 && Clock::now() < deadline;) {
        const ssize_t n = ::read(reader, buffer, sizeof buffer);
        if (n > 0) {
            lines += static_cast<std::size_t>(std::count(buffer, buffer + n, '\n'));
        } else {
            std::this_thread::sleep_for(5ms);
        }
    }
    EXPECT_EQ(lines, 1500u);
    ::close(reader); // the reader goes: writing fails, and the service goes on
    EXPECT_EQ(statusOf(roundTrip(fd, request)), 404);
    ::close(fd);
    EXPECT_LT(service.stop(), 1.0);
    EXPECT_TRUE(service.endedWell());
    ::unlink(fifo.c_str());
}

} // namespace
