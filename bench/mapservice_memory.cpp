// The map service process's peak memory over 500 mixed requests from four clients at once:
// drawn maps and pictures from a GeoTIFF, 320 to 4000 pixels a side. The baseline is its peak
// just after start, with the shorelines loaded.
#include "benchutil.h"
#include "geotiffwriter.h"
#include "serviceprocess.h"

#include <httplib.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

// 0 to 30 E, 30 to 60 N in 3000 x 3000 pixels.
bool makeGeotiff(const std::string& path)
{
    return testsupport::writeGeotiff(path, 4326, 0, 60, 0.01, 0.01, 3000, 3000, [](int x, int y) {
        std::array<std::uint8_t, 3> c{};
        for (int b = 0; b < 3; ++b) {
            c[static_cast<std::size_t>(b)] = static_cast<std::uint8_t>((x * (b + 1) + y) / 12);
        }
        return c;
    });
}

std::string query(int i)
{
    static const int sides[] = {320, 1999, 1999, 4000};
    static const char* codes[] = {"EUR0407", "WLD0407", "EURO809", "USA407"};
    const int side = sides[i % 4];
    return "/pub/agent.dll?CenP=" + std::to_string(35 + i % 20) + "," + std::to_string(i % 25) +
           "&Alti=" + std::to_string(45 * (1 + i % 7)) + "&Size=" + std::to_string(side) + "," +
           std::to_string(side) + "&Lang=" + codes[(i / 4) % 4];
}

} // namespace

int main(int, char** argv)
{
    const char* tmp = std::getenv("TMPDIR");
    const std::string geotiff = std::string(tmp != nullptr ? tmp : "/tmp") + "/bench_memory.tif";
    if (!makeGeotiff(geotiff)) {
        return 1;
    }
    const testsupport::ServiceProcess service(
        testsupport::ServiceProcess::beside(argv[0], "mapservice"),
        {"--source", "type2=" + geotiff});
    if (service.port() == 0) {
        return 1;
    }
    const double idle = service.peakMegabytes();
    constexpr int requests = 500;
    constexpr int clients = 4;
    std::atomic<int> next{0};
    std::atomic<int> errors{0};
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&] {
            httplib::Client client("127.0.0.1", service.port());
            client.set_keep_alive(true);
            client.set_read_timeout(120, 0);
            for (int i = next++; i < requests; i = next++) {
                const auto result = client.Get(query(i).c_str());
                if (!result || result->status != 200) {
                    ++errors;
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    const double peak = service.peakMegabytes();
    std::remove(geotiff.c_str());
    std::printf("mapservice memory: %d requests, %d errors, peak %.0f MB, %.0f MB after start\n",
                requests, errors.load(), peak, idle);
    bench::report("mapservice_memory_500", peak, idle, "peak<400MB");
    return errors == 0 && peak < 400 ? 0 : 1;
}
