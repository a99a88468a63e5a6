// 49 tiles of 1999 x 1999 pixels (a 7 x 7 region drawn by the map service, with the world
// files the downloader writes) exported to a GeoTIFF by mapexport, against GDAL's own tools
// over the same tiles: gdal_translate -of VRT -expand rgb per tile, gdalbuildvrt, then
// gdal_translate to the same kind of GeoTIFF, with an alpha band as mapexport writes.
#include "benchutil.h"
#include "exportbench.h"
#include "serviceprocess.h"

#include <QDir>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

// MAPEXPORT_BENCH_SIDE (2 to 20) makes another region, to see that the ratio does not depend
// on its size.
const int side = [] {
    const char* text = std::getenv("MAPEXPORT_BENCH_SIDE"); // NOLINT(concurrency-mt-unsafe)
    const int value = text != nullptr ? std::atoi(text) : 7;
    return value >= 2 && value <= 20 ? value : 7;
}();

} // namespace

int main(int, char** argv)
{
    QTemporaryDir work;
    work.setAutoRemove(std::getenv("MAPEXPORT_BENCH_KEEP") ==
                       nullptr); // NOLINT(concurrency-mt-unsafe)
    const QString folder = work.path() + QStringLiteral("/mymaps");
    QDir().mkpath(folder);
    if (!bench::drawRegion(argv[0], folder, side, side)) {
        return 1;
    }
    const std::string dir = work.path().toStdString();
    const std::string exporter = bench::exporterBeside(argv[0]);
    int failures = 0;
    const double value = bench::secondsOf([&] {
        failures += bench::run("cd '" + dir + "' && CPL_DEBUG=ON '" + exporter +
                               "' out.tif > /dev/null 2> debug.log");
    });
    const double decodes = bench::gifOpenings(dir + "/debug.log") / double(side * side);
    rusage children{};
    getrusage(RUSAGE_CHILDREN, &children);
    const double peakMegabytes = static_cast<double>(children.ru_maxrss) / 1024;

    const std::string gdal = "cd '" + dir + "/mymaps' && ";
    const double baseline = bench::secondsOf([&] {
        failures +=
            bench::run(gdal + "for t in *.gif; do gdal_translate -q -of VRT -expand rgb \"$t\" "
                              "\"${t%.gif}.vrt\" || exit 1; done");
        failures += bench::run(gdal + "gdalbuildvrt -q -addalpha mosaic.vrt IDA_*.vrt");
        failures +=
            bench::run(gdal + "gdal_translate -q -of COG -co COMPRESS=DEFLATE -co PREDICTOR=2 "
                              "-co BIGTIFF=IF_SAFER -co NUM_THREADS=ALL_CPUS -co "
                              "OVERVIEW_RESAMPLING=AVERAGE mosaic.vrt ../gdal.tif");
    });
    std::printf("mapexport: %d tiles in %.1f s (peak memory %.0f MB, %.1f decodes a tile), GDAL's "
                "tools %.1f s, %d failures\n",
                side * side, value, peakMegabytes, decodes, baseline, failures);
    const std::string name = "mapexport_" + std::to_string(side * side);
    bench::report(name.c_str(), value, baseline, "1.2");
    return failures == 0 ? 0 : 1;
}
