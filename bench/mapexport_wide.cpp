// The time per tile of a wide region (48 x 4 tiles) exported to a GeoTIFF, against that of a
// square one of about as many tiles (14 x 14): a wide region must not cost more per tile because
// its rows are long. The pictures are 100 tiles drawn by the map service, linked anew into both.
// The square is exported before and after the wide region.
#include "benchutil.h"
#include "exportbench.h"
#include "serviceprocess.h"

#include <QDir>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

constexpr int drawnSide = 10;

// MAPEXPORT_BENCH_SIDE (4 to 20) makes another square region, to see how the ratio depends on
// its size.
const int side = [] {
    const char* text = std::getenv("MAPEXPORT_BENCH_SIDE"); // NOLINT(concurrency-mt-unsafe)
    const int value = text != nullptr ? std::atoi(text) : 14;
    return value >= 4 && value <= 20 ? value : 14;
}();

struct Timed {
    double perTile = 0;
    double decodes = 0; // GIF decodes a tile
    double peakMegabytes = 0;
    int failures = 0;
};

Timed exportRegion(const std::string& exporter, const std::string& dir, int tiles)
{
    Timed t;
    const double seconds = bench::secondsOf([&] {
        t.failures = bench::run("cd '" + dir + "' && CPL_DEBUG=ON '" + exporter +
                                    "' out.tif > /dev/null 2> debug.log",
                                &t.peakMegabytes);
    });
    t.perTile = seconds / tiles;
    t.decodes = bench::gifOpenings(dir + "/debug.log") / static_cast<double>(tiles);
    return t;
}

} // namespace

int main(int, char** argv)
{
    QTemporaryDir work;
    const QString drawn = work.path() + QStringLiteral("/drawn");
    const QString square = work.path() + QStringLiteral("/square");
    const QString wide = work.path() + QStringLiteral("/wide");
    QDir().mkpath(drawn);
    for (const QString& folder : {square, wide}) {
        QDir().mkpath(folder + QStringLiteral("/mymaps"));
    }
    if (!bench::drawRegion(argv[0], drawn, drawnSide, drawnSide) ||
        !bench::linkTiles(drawn, drawnSide, square + QStringLiteral("/mymaps"), side, side) ||
        !bench::linkTiles(drawn, drawnSide, wide + QStringLiteral("/mymaps"), 4, 48)) {
        return 1;
    }
    const std::string exporter = bench::exporterBeside(argv[0]);
    // The square before and after the wide region, its time the mean of both: an export takes
    // a minute, over which the machine's speed drifts.
    const Timed before = exportRegion(exporter, square.toStdString(), side * side);
    const Timed w = exportRegion(exporter, wide.toStdString(), 192);
    Timed s = exportRegion(exporter, square.toStdString(), side * side);
    s.perTile = (before.perTile + s.perTile) / 2;
    s.peakMegabytes = std::max(before.peakMegabytes, s.peakMegabytes);
    s.failures += before.failures;
    std::printf("mapexport: %d x %d tiles %.3f s a tile (%.1f decodes a tile, peak %.0f MB), "
                "48 x 4 tiles %.3f s a tile (%.1f decodes a tile, peak %.0f MB), %d failures\n",
                side, side, s.perTile, s.decodes, s.peakMegabytes, w.perTile, w.decodes,
                w.peakMegabytes, s.failures + w.failures);
    bench::report("mapexport_wide_48x4", w.perTile, s.perTile, "1.2");
    return s.failures + w.failures == 0 ? 0 : 1;
}
