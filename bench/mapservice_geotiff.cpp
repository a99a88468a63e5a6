// A 1999 x 1999 picture cut from a local Web Mercator GeoTIFF by the map service's raster
// source, GIF encoding included, against the gdalwarp command making the same window as a
// GeoTIFF in geographic coordinates (the GIF step has no one-command peer).
#include "benchutil.h"
#include "geotiffwriter.h"
#include "mapservice/draw/gifencode.h"
#include "mapservice/protocol/geometry.h"
#include "mapservice/sources/sources.h"
#include "serviceloop.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr double half = 20037508.342789244; // half the Web Mercator world, in metres

double mercatorY(double lat)
{
    return std::log(std::tan(M_PI / 4 + lat * M_PI / 360)) * 6378137.0;
}

// A 4000 x 4000 RGB GeoTIFF over 5 to 15 E, 42 to 52 N, with smooth colours like a photo.
void makeGeotiff(const std::string& path)
{
    constexpr int size = 4000;
    const double west = 5 * half / 180;
    const double north = mercatorY(52);
    if (!testsupport::writeGeotiff(path, 3857, west, north, (15 * half / 180 - west) / size,
                                   (north - mercatorY(42)) / size, size, size, [](int x, int y) {
                                       std::array<std::uint8_t, 3> c{};
                                       for (int b = 0; b < 3; ++b) {
                                           c[static_cast<std::size_t>(b)] =
                                               static_cast<std::uint8_t>(
                                                   (x * (b + 1) + y * (3 - b) + (x * y) % 7) / 16);
                                       }
                                       return c;
                                   })) {
        std::fprintf(stderr, "cannot write the GeoTIFF\n");
        std::exit(1);
    }
}

} // namespace

int main()
{
    const std::string folder = std::getenv("TMPDIR") != nullptr ? std::getenv("TMPDIR") : "/tmp";
    const std::string input = folder + "/bench_geotiff_in.tif";
    const std::string output = folder + "/bench_geotiff_out.tif";
    makeGeotiff(input);

    mapservice::SourceTable sources({}, {});
    if (const auto added = sources.add(input); !added) {
        std::fprintf(stderr, "%s\n", added.error().text.c_str());
        return 1;
    }
    // 2 degrees around 47 N 10 E.
    const mapservice::MapRequest request{47, 10, 90, 1999, 1999, "EUR0407", {}};
    const mapservice::Geometry g(request);
    std::size_t bytes = 0;
    char command[512];
    std::snprintf(command, sizeof command,
                  "gdalwarp -q -overwrite -t_srs EPSG:4326 -te %.9f %.9f %.9f %.9f -ts 1999 1999 "
                  "-r bilinear %s %s",
                  g.lonAt(0), g.latAt(g.height), g.lonAt(g.width), g.latAt(0), input.c_str(),
                  output.c_str());
    int status = 0;
    // A round is three pictures, or three gdalwarp runs: about a second.
    constexpr int repeats = 3;
    const bench::Rounds rounds = bench::alternate(
        9,
        [&] {
            for (int i = 0; i < repeats; ++i) {
                bytes +=
                    mapservice::encodeGif(mapservice::drawNow(sources, request).value()).size();
            }
        },
        [&] {
            for (int i = 0; i < repeats; ++i) {
                status |= std::system(command);
            }
        });
    std::remove(input.c_str());
    std::remove(output.c_str());
    if (status != 0 || bytes == 0) {
        std::fprintf(stderr, "a run failed (gdalwarp status %d)\n", status);
        return 1;
    }
    bench::report("mapservice_geotiff_1999", rounds, "1.0");
    return 0;
}
