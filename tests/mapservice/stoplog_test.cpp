// The map service process stopped under load and while it draws, and its access log read by
// somebody or by nobody: the stop is prompt and the log holds a line per request without
// holding up any.
#include "buildpaths.h"
#include "serviceclients.h"

namespace {

using namespace std::chrono_literals;
using namespace testsupport;

TEST(MapServiceClients, AStopUnderLoadTakesLessThanASecond)
{
    ServiceProcess service(testsupport::program("mapservice"));
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
        testsupport::program("mapservice"),
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
    ServiceProcess service(testsupport::program("mapservice"), {"--log"}, logFile);
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
    // The header a GET would have had, its body's length included, and no body.
    EXPECT_GT(testsupport::bodyLength(head).value_or(0), 0u) << head;
    EXPECT_EQ(head.find("\r\n\r\n") + 4, head.size()) << head;
}

TEST(MapServiceClients, AnAccessLogThatNobodyReadsHoldsUpNoRequest)
{
    const std::string fifo = ::testing::TempDir() + "mapservice-log-fifo";
    ::unlink(fifo.c_str());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // Held open but not read until the requests are served: the pipe fills after some 900 lines.
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ServiceProcess service(testsupport::program("mapservice"), {"--log"}, fifo);
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
