// 400 tiles of 1999 x 1999 pixels (a 20 x 20 region drawn by the map service, with the world
// files the downloader writes) exported to a GeoTIFF by mapexport, against GDAL's own tools
// over the same tiles: gdal_translate -of VRT -expand rgb per tile, gdalbuildvrt, then
// gdal_translate to the same kind of GeoTIFF, with an alpha band as mapexport writes.
#include "benchutil.h"
#include "common/tilegeometry.h"
#include "common/worldfile.h"
#include "serviceprocess.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <httplib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// MAPEXPORT_BENCH_SIDE (2 to 20) makes a smaller region for a quick look.
const int side = [] {
    const char* text = std::getenv("MAPEXPORT_BENCH_SIDE"); // NOLINT(concurrency-mt-unsafe)
    const int value = text != nullptr ? std::atoi(text) : 20;
    return value >= 2 && value <= 20 ? value : 20;
}();
constexpr double zoom = 45; // a degree a tile

bool write(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// The region's tiles as the downloader stores them, from the north-west corner 60 N 0 E.
bool makeTiles(int port, const QString& folder)
{
    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(60, 0);
    for (int row = 0; row < side; ++row) {
        for (int column = 0; column < side; ++column) {
            const double lat = 60 - row + 0.000001;
            const double lon = column + 0.000001;
            char query[200];
            std::snprintf(query, sizeof query,
                          "/pub/agent.dll?CenP=%.6f,%.6f&Alti=45&Size=1999,1999&Lang=EUR0407", lat,
                          lon);
            const auto reply = client.Get(query);
            if (!reply || reply->status != 200) {
                return false;
            }
            const QString path =
                folder + QStringLiteral("/IDA_E_B%1!00L%2!00Z45.gif").arg(60 - row).arg(column);
            const auto place = common::pictureGeoTransform(lat, lon, zoom, 1999, 1999);
            if (!write(path, QByteArray::fromStdString(reply->body)) ||
                !write(common::worldFilePath(path), common::worldFileText(place)) ||
                !write(common::auxFilePath(path), common::auxFileText(place))) {
                return false;
            }
        }
    }
    return true;
}

// Runs |command| with the shell; its exit status, and in |peakMegabytes| the most memory it held.
int run(const std::string& command, double* peakMegabytes = nullptr)
{
    const pid_t child = fork();
    if (child == 0) {
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    if (peakMegabytes != nullptr) {
        *peakMegabytes = static_cast<double>(usage.ru_maxrss) / 1024;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

} // namespace

int main(int, char** argv)
{
    QTemporaryDir work;
    work.setAutoRemove(std::getenv("MAPEXPORT_BENCH_KEEP") ==
                       nullptr); // NOLINT(concurrency-mt-unsafe)
    const QString folder = work.path() + QStringLiteral("/mymaps");
    QDir().mkpath(folder);
    {
        const testsupport::ServiceProcess service(
            testsupport::ServiceProcess::beside(argv[0], "mapservice"));
        if (service.port() == 0 || !makeTiles(service.port(), folder)) {
            std::fprintf(stderr, "the tiles could not be made\n");
            return 1;
        }
    }
    const std::string dir = work.path().toStdString();
    const std::string exporter =
        std::filesystem::absolute(testsupport::ServiceProcess::beside(argv[0], "mapexport"));
    int failures = 0;
    const double value = bench::secondsOf(
        [&] { failures += run("cd '" + dir + "' && '" + exporter + "' out.tif > /dev/null"); });
    rusage children{};
    getrusage(RUSAGE_CHILDREN, &children);
    const double peakMegabytes = static_cast<double>(children.ru_maxrss) / 1024;

    const std::string gdal = "cd '" + dir + "/mymaps' && ";
    const double baseline = bench::secondsOf([&] {
        failures += run(gdal + "for t in *.gif; do gdal_translate -q -of VRT -expand rgb \"$t\" "
                               "\"${t%.gif}.vrt\" || exit 1; done");
        failures += run(gdal + "gdalbuildvrt -q -addalpha mosaic.vrt IDA_*.vrt");
        failures += run(gdal + "gdal_translate -q -of COG -co COMPRESS=DEFLATE -co PREDICTOR=2 "
                               "-co BIGTIFF=IF_SAFER -co NUM_THREADS=ALL_CPUS -co "
                               "OVERVIEW_RESAMPLING=AVERAGE mosaic.vrt ../gdal.tif");
    });
    std::printf("mapexport: %d tiles in %.1f s (peak memory %.0f MB), GDAL's tools %.1f s, %d "
                "failures\n",
                side * side, value, peakMegabytes, baseline, failures);
    bench::report("mapexport_400", value, baseline, "1.2");
    return failures == 0 ? 0 : 1;
}
