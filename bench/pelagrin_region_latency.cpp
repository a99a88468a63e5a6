// A region of 200 tiles from a service that waits 20 ms before each answer and serves up to 8
// at once, through "Start download" with the default 2 connections and with 4, against curl
// fetching the same URLs one after the other over one connection.
#include "benchapp.h"
#include "pelagrin/options.h"
#include "regionbench.h"
#include "tileserver.h"

int main(int argc, char** argv)
{
    const bench::OffscreenRun run(argc, argv);
    bench::TileServer server(300 * 1024, 20, 8);
    bench::RegionBench region(server.address());

    // Each round (seconds, the latency dominating) is followed by curl's over the same tiles.
    bench::Rounds two;
    bench::Rounds four;
    for (int round = 0; round < 3; ++round) {
        const double withTwo = region.windowRound(pelagrin::defaultConnections);
        const double withFour = region.windowRound(4);
        const double baseline = region.curlRound();
        two.add(withTwo, baseline);
        four.add(withFour, baseline);
    }
    if (!region.complete()) {
        return 1;
    }
    bench::report("pelagrin_region_latency_200", two, "0.55");
    bench::report("pelagrin_region_latency_200_x4", four, "0.3");
    return 0;
}
