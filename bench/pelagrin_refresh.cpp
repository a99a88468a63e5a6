// Refreshing the 200 tiles of a region that the real local map service drew, none of them
// changed ("Refresh older", answered 304 without a picture drawn), against downloading them,
// in alternating rounds.
#include "benchapp.h"
#include "regionbench.h"
#include "serviceprocess.h"

int main(int argc, char** argv)
{
    const testsupport::ServiceProcess service(
        testsupport::ServiceProcess::beside(argv[0], "mapservice"));
    if (service.port() == 0) {
        return 1;
    }
    const bench::OffscreenRun run(argc, argv);
    bench::RegionBench region(QStringLiteral("127.0.0.1:%1").arg(service.port()));
    bench::Rounds rounds;
    for (int round = 0; round < 11; ++round) {
        const double download = region.windowRound(pelagrin::defaultConnections);
        rounds.add(region.refreshRound(), download);
        if (region.windowTiles() != bench::RegionBench::tiles ||
            region.refreshed() != bench::RegionBench::tiles) {
            std::fprintf(stderr, "%d tiles downloaded, %d refreshed of %d\n", region.windowTiles(),
                         region.refreshed(), bench::RegionBench::tiles);
            return 1;
        }
    }
    bench::report("pelagrin_refresh_200", rounds, "0.1");
    return 0;
}
