// A region of 200 tiles from a service that waits 20 ms before each answer and serves up to 8
// at once, through "Start download" with the default 2 connections and with 4, against curl
// fetching the same URLs one after the other over one connection.
#include "benchapp.h"
#include "pelagrin/options.h"
#include "regionbench.h"
#include "tileserver.h"

#include <vector>

int main(int argc, char** argv)
{
    const bench::OffscreenRun run(argc, argv);
    bench::TileServer server(300 * 1024, 20, 8);
    bench::RegionBench region(server.address());

    std::vector<double> two;
    std::vector<double> four;
    std::vector<double> baselines;
    for (int round = 0; round < 3; ++round) {
        two.push_back(region.windowRound(pelagrin::defaultConnections));
        four.push_back(region.windowRound(4));
        baselines.push_back(region.curlRound());
    }
    if (!region.complete()) {
        return 1;
    }
    const double baseline = bench::median(baselines);
    bench::report("pelagrin_region_latency_200", bench::median(two), baseline, "0.55");
    bench::report("pelagrin_region_latency_200_x4", bench::median(four), baseline, "0.3");
    return 0;
}
