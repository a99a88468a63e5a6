// 16 tiles of 1999 x 1999 pixels (a 4 x 4 region drawn by the map service, with world files)
// exported to PMTiles with its page by mapexport, against mapexport's own MBTiles of the same
// tiles, in five alternating rounds: the same pyramid and the same encoded tiles, kept in
// another container.
#include "benchutil.h"
#include "exportbench.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <string>

int main(int, char** argv)
{
    QTemporaryDir work;
    const QString folder = work.path() + QStringLiteral("/mymaps");
    QDir().mkpath(folder);
    if (!bench::drawRegion(argv[0], folder, 4, 4)) {
        return 1;
    }
    const std::string dir = work.path().toStdString();
    const std::string exporter = bench::exporterBeside(argv[0]);
    int failures = 0;
    const auto exportTo = [&](const char* output) {
        return [&failures, &dir, &exporter, output] {
            failures += bench::run("cd '" + dir + "' && '" + exporter + "' --tile-format png " +
                                   output + " > /dev/null");
        };
    };
    const bench::Rounds rounds =
        bench::alternate(5, exportTo("out.pmtiles"), exportTo("out.mbtiles"));
    std::printf("PMTiles %lld bytes and its page %lld, MBTiles %lld bytes; %d failures\n",
                static_cast<long long>(QFileInfo(work.path() + "/out.pmtiles").size()),
                static_cast<long long>(QFileInfo(work.path() + "/out.html").size()),
                static_cast<long long>(QFileInfo(work.path() + "/out.mbtiles").size()), failures);
    bench::report("mapexport_pmtiles_16", rounds, "1.05");
    return failures == 0 ? 0 : 1;
}
