// Eight clients, each from an address of its own, asking the map service process for 100
// tiles of 1999 x 1999 pixels each at the same time, against one client asking for the same
// 800 tiles one after the other.
#include "benchutil.h"
#include "loopbackclient.h"
#include "serviceprocess.h"

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int clients = 8;
constexpr int requestsPerClient = 100;

std::string tileRequest(int i)
{
    return "GET /pub/agent.dll?qscr=mrdt&ID=7QbRk.&CenP=%20" + std::to_string(40 + i % 20) +
           ".000001,%20" + std::to_string(i / 20) +
           ".000001&Lang=EUR0407&Alti=%2045&Size=1999,1999&Offs=%200,%200&MapS=0&Pins=%7C2ccf%7C"
           " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
}

// Fetches tiles |first| .. |first + count - 1| over one kept-alive connection from |from|; the
// number that did not come back as a picture.
int fetch(int port, const std::string& from, int first, int count)
{
    const int fd = testsupport::connectFrom(from.c_str(), port, 60);
    int errors = 0;
    for (int i = first; i < first + count; ++i) {
        const std::string answer = testsupport::roundTrip(fd, tileRequest(i));
        const auto body = answer.find("\r\n\r\n");
        if (testsupport::statusOf(answer) != 200 || answer.compare(body + 4, 4, "GIF8") != 0) {
            ++errors;
        }
    }
    ::close(fd);
    return errors;
}

} // namespace

int main(int, char** argv)
{
    const testsupport::ServiceProcess service(
        testsupport::ServiceProcess::beside(argv[0], "mapservice"));
    const int port = service.port();
    if (port == 0) {
        return 1;
    }
    constexpr int total = clients * requestsPerClient;
    int errors = 0;
    const double serial = bench::secondsOf([&] { errors += fetch(port, "127.0.0.1", 0, total); });
    std::atomic<int> concurrentErrors{0};
    const double concurrent = bench::secondsOf([&] {
        std::vector<std::thread> threads;
        for (int c = 0; c < clients; ++c) {
            threads.emplace_back([&, c] {
                concurrentErrors += fetch(port, "127.0.0." + std::to_string(2 + c),
                                          c * requestsPerClient, requestsPerClient);
            });
        }
        for (auto& thread : threads) {
            thread.join();
        }
    });
    errors += concurrentErrors;
    std::printf("mapservice load: %d clients x %d tiles, %.1f tiles/s concurrently, %.1f tiles/s "
                "one by one, %d errors, peak memory %.0f MB\n",
                clients, requestsPerClient, total / concurrent, total / serial, errors,
                service.peakMegabytes());
    bench::report("mapservice_load_8x100", concurrent, serial, "0.6 errors=0");
    return errors == 0 ? 0 : 1;
}
