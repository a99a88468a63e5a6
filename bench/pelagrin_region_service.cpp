// A region of 200 tiles drawn by the real local map service, through "Start download" with the
// default 2 connections, against curl fetching the same URLs one after the other over one
// connection. On two cores the service draws two tiles at once.
#include "benchapp.h"
#include "pelagrin/options.h"
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

    // Each round takes seconds; only the fetching is timed, not the emptying of the folders.
    bench::Rounds rounds;
    for (int round = 0; round < 3; ++round) {
        const double window = region.windowRound(pelagrin::defaultConnections);
        rounds.add(window, region.curlRound());
    }
    if (!region.complete()) {
        return 1;
    }
    bench::report("pelagrin_region_service_200", rounds, "0.7");
    return 0;
}
