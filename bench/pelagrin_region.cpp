// A region of 200 tiles of about 300 KB each through the real "Start download" path with one
// connection, offscreen, against curl fetching the same 200 URLs into files over one
// connection in one process. Both ask the same loopback HTTP/1.1 server with keep-alive.
#include "benchapp.h"
#include "regionbench.h"
#include "tileserver.h"

#include <vector>

int main(int argc, char** argv)
{
    const bench::OffscreenRun run(argc, argv);
    bench::TileServer server(300 * 1024, 0);
    bench::RegionBench region(server.address());

    // Rounds alternate between the two, each into emptied folders; medians are compared.
    std::vector<double> values;
    std::vector<double> baselines;
    for (int round = 0; round < 15; ++round) {
        values.push_back(region.windowRound(1));
        baselines.push_back(region.curlRound());
    }
    if (!region.complete()) {
        return 1;
    }
    bench::report("pelagrin_region_200", bench::median(values), bench::median(baselines), "1.25");
    return 0;
}
