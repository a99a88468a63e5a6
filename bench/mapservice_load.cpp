// Four clients asking the map service process for 50 tiles of 1999 x 1999 pixels each at the
// same time, against one client asking for the same 200 tiles one after the other.
#include "benchutil.h"
#include "serviceprocess.h"

#include <atomic>
#include <cstdio>
#include <httplib.h>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int clients = 4;
constexpr int requestsPerClient = 50;

std::string tilePath(int i)
{
    return "/pub/agent.dll?qscr=mrdt&ID=7QbRk.&CenP=%20" + std::to_string(40 + i % 20) +
           ".000001,%20" + std::to_string(i / 20) +
           ".000001&Lang=EUR0407&Alti=%2045&Size=1999,1999&Offs=%200,%200&MapS=0&Pins=%7C2ccf%7C";
}

// Fetches tiles |first| .. |first + count - 1| over one kept-alive connection.
int fetch(int port, int first, int count, std::atomic<long>& bytes)
{
    httplib::Client client("127.0.0.1", port);
    client.set_keep_alive(true);
    client.set_read_timeout(60, 0);
    int errors = 0;
    for (int i = first; i < first + count; ++i) {
        const auto result = client.Get(tilePath(i).c_str());
        if (!result || result->status != 200) {
            ++errors;
        } else {
            bytes += static_cast<long>(result->body.size());
        }
    }
    return errors;
}

} // namespace

int main(int, char** argv)
{
    const bench::ServiceProcess service(argv[0]);
    const int port = service.port();
    if (port == 0) {
        return 1;
    }

    std::atomic<long> bytes{0};
    int errors = 0;
    const double serial =
        bench::secondsOf([&] { errors += fetch(port, 0, clients * requestsPerClient, bytes); });
    std::atomic<int> concurrentErrors{0};
    const double concurrent = bench::secondsOf([&] {
        std::vector<std::thread> threads;
        for (int c = 0; c < clients; ++c) {
            threads.emplace_back([&, c] {
                concurrentErrors += fetch(port, c * requestsPerClient, requestsPerClient, bytes);
            });
        }
        for (auto& thread : threads) {
            thread.join();
        }
    });
    errors += concurrentErrors;
    std::printf("mapservice load: %d clients x %d tiles, %.1f tiles/s concurrently, %.1f tiles/s "
                "one by one, %d errors\n",
                clients, requestsPerClient, clients * requestsPerClient / concurrent,
                clients * requestsPerClient / serial, errors);
    bench::report("mapservice_load_4x50", concurrent, serial, "errors=0");
    return errors == 0 ? 0 : 1;
}
