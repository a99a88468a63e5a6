// The region of bench/pelagrin_region.cpp with its files on the disk, not in memory: 200 tiles of
// about 300 KB through the real "Start download" with one connection, each tile and the files
// beside it on the disk before it counts, against curl fetching the same 200 URLs into files
// followed by one sync. The folder is under $BENCH_DISK_DIR, else /var/tmp, which must be on a
// disk.
#include "benchapp.h"
#include "regionbench.h"
#include "tileserver.h"

#include <QTemporaryDir>

int main(int argc, char** argv)
{
    const bench::OffscreenRun run(argc, argv);
    const QByteArray disk = qgetenv("BENCH_DISK_DIR");
    QTemporaryDir work(
        (disk.isEmpty() ? QStringLiteral("/var/tmp") : QString::fromLocal8Bit(disk)) +
        QStringLiteral("/bench-XXXXXX"));
    if (!work.isValid() || !QDir::setCurrent(work.path())) {
        std::fputs("no folder on the disk to work in\n", stderr);
        return 1;
    }
    bench::TileServer server(300 * 1024, 0);
    bench::RegionBench region(server.address());

    // Each round fetches the region five times into emptied folders; rounds alternate between
    // the window and curl.
    const bench::Rounds rounds = region.alternate(11, 5, true);
    QDir::setCurrent(run.path());
    if (!region.complete()) {
        return 1;
    }
    bench::report("pelagrin_region_200_disk", rounds, "1.3");
    return 0;
}
