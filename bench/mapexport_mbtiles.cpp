// 16 tiles of 1999 x 1999 pixels (a 4 x 4 region drawn by the map service, with world files)
// exported to MBTiles by mapexport, against GDAL's own tools over the same tiles: a VRT of them
// with alpha warped to Web Mercator at mapexport's finest zoom, gdal_translate -of MBTILES with
// the same tile format, then gdaladdo down to one tile. Then the same tiles to SQLiteDB, against
// mapexport's own MBTiles.
#include "benchutil.h"
#include "exportbench.h"
#include "serviceprocess.h"

#include <QDir>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sqlite3.h>
#include <string>

namespace {

// MAPEXPORT_BENCH_SIDE (2 to 10) makes another region, to see that the ratio does not depend
// on its size.
const int side = [] {
    const char* text = std::getenv("MAPEXPORT_BENCH_SIDE"); // NOLINT(concurrency-mt-unsafe)
    const int value = text != nullptr ? std::atoi(text) : 4;
    return value >= 2 && value <= 10 ? value : 4;
}();

long long tilesIn(const std::string& path)
{
    sqlite3* db = nullptr;
    long long count = 0;
    sqlite3_stmt* s = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(db, "SELECT COUNT(*) FROM tiles", -1, &s, nullptr) == SQLITE_OK &&
        sqlite3_step(s) == SQLITE_ROW) {
        count = sqlite3_column_int64(s, 0);
    }
    sqlite3_finalize(s);
    sqlite3_close(db);
    return count;
}

} // namespace

int main(int, char** argv)
{
    QTemporaryDir work;
    const QString folder = work.path() + QStringLiteral("/mymaps");
    QDir().mkpath(folder);
    if (!bench::drawRegion(argv[0], folder, side, side)) {
        return 1;
    }
    const std::string dir = work.path().toStdString();
    const std::string exporter = bench::exporterBeside(argv[0]);
    const std::string gdal = "cd '" + dir + "/mymaps' && ";
    int failures = bench::run(gdal + "for t in *.gif; do gdal_translate -q -of VRT -expand rgb "
                                     "\"$t\" \"${t%.gif}.vrt\" || exit 1; done && "
                                     "gdalbuildvrt -q -addalpha mosaic.vrt IDA_*.vrt");
    // GDAL picks its zoom from a square pixel that keeps the picture's diagonal, a level
    // coarser than mapexport's at this latitude: its warp is given mapexport's finest zoom.
    const double finest = 2 * 3.14159265358979323846 * 6378137 / (256 << 12);
    // GDAL's tools once (they take over a minute), mapexport three times, its median: a single
    // export's time varies by a tenth from one run to the next.
    const double baseline = bench::secondsOf([&] {
        failures += bench::run(
            "cd '" + dir + "' && rm -f gdal.mbtiles && gdalwarp -q -of VRT -t_srs EPSG:3857 " +
            "-r bilinear -tr " + std::to_string(finest) + " " + std::to_string(finest) +
            " mymaps/mosaic.vrt warped.vrt && gdal_translate -q -of MBTILES -co "
            "TILE_FORMAT=PNG warped.vrt gdal.mbtiles && gdaladdo -q -r average gdal.mbtiles");
    });
    const double value = bench::medianSeconds(3, [&] {
        failures += bench::run("cd '" + dir + "' && rm -f out.mbtiles && '" + exporter +
                               "' --tile-format png out.mbtiles > /dev/null");
    });
    const long long ours = tilesIn(dir + "/out.mbtiles");
    const long long theirs = tilesIn(dir + "/gdal.mbtiles");
    std::printf("mapexport: %lld map tiles in %.1f s (%.0f a second); GDAL's tools %lld in %.1f s "
                "(%.0f a second); %d failures\n",
                ours, value, static_cast<double>(ours) / value, theirs, baseline,
                static_cast<double>(theirs) / baseline, failures);
    const std::string tiles = std::to_string(side * side);
    bench::report(("mapexport_mbtiles_" + tiles).c_str(), value, baseline, "0.2");
    // The same tiles into the layout of OsmAnd and Locus Map.
    const double sqlitedb = bench::secondsOf([&] {
        failures += bench::run("cd '" + dir + "' && '" + exporter +
                               "' --tile-format png out.sqlitedb > /dev/null");
    });
    bench::report(("mapexport_sqlitedb_" + tiles).c_str(), sqlitedb, value, "1.2");
    return failures == 0 && ours > 0 ? 0 : 1;
}
