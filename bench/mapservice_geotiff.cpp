// A 1999 x 1999 picture cut from a local Web Mercator GeoTIFF by the map service's raster
// source, GIF encoding included, against the gdalwarp command making the same window as a
// GeoTIFF in geographic coordinates (the GIF step has no one-command peer).
#include "benchutil.h"
#include "geometry.h"
#include "gifencode.h"
#include "sources.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <gdal.h>
#include <ogr_srs_api.h>
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
    GDALAllRegister();
    constexpr int size = 4000;
    GDALDatasetH ds =
        GDALCreate(GDALGetDriverByName("GTiff"), path.c_str(), size, size, 3, GDT_Byte, nullptr);
    const double west = 5 * half / 180;
    const double east = 15 * half / 180;
    const double north = mercatorY(52);
    const double south = mercatorY(42);
    std::array<double, 6> transform{west, (east - west) / size,  0, north,
                                    0,    (south - north) / size};
    GDALSetGeoTransform(ds, transform.data());
    OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
    OSRImportFromEPSG(srs, 3857);
    GDALSetSpatialRef(ds, srs);
    OSRDestroySpatialReference(srs);
    std::vector<std::uint8_t> row(size);
    for (int b = 0; b < 3; ++b) {
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x) {
                row[static_cast<std::size_t>(x)] =
                    static_cast<std::uint8_t>((x * (b + 1) + y * (3 - b) + (x * y) % 7) / 16);
            }
            if (GDALRasterIO(GDALGetRasterBand(ds, b + 1), GF_Write, 0, y, size, 1, row.data(),
                             size, 1, GDT_Byte, 0, 0) != CE_None) {
                std::fprintf(stderr, "cannot write the GeoTIFF\n");
                std::exit(1);
            }
        }
    }
    GDALClose(ds);
}

} // namespace

int main()
{
    const std::string folder = std::getenv("TMPDIR") != nullptr ? std::getenv("TMPDIR") : "/tmp";
    const std::string input = folder + "/bench_geotiff_in.tif";
    const std::string output = folder + "/bench_geotiff_out.tif";
    makeGeotiff(input);

    mapservice::SourceTable sources({}, {});
    if (const auto refused = sources.add(input)) {
        std::fprintf(stderr, "%s\n", refused->reason.c_str());
        return 1;
    }
    // 2 degrees around 47 N 10 E.
    const mapservice::MapRequest request{47, 10, 90, 1999, 1999, "EUR0407", {}};
    const mapservice::Geometry g(request);
    std::size_t bytes = 0;
    const double value = bench::medianSeconds(5, [&] {
        const auto picture = sources.draw(request);
        bytes += mapservice::encodeGif(std::get<mapservice::Picture>(picture)).size();
    });
    char command[512];
    std::snprintf(command, sizeof command,
                  "gdalwarp -q -overwrite -t_srs EPSG:4326 -te %.9f %.9f %.9f %.9f -ts 1999 1999 "
                  "-r bilinear %s %s",
                  g.lonAt(0), g.latAt(g.height), g.lonAt(g.width), g.latAt(0), input.c_str(),
                  output.c_str());
    int status = 0;
    const double baseline = bench::medianSeconds(5, [&] { status |= std::system(command); });
    std::remove(input.c_str());
    std::remove(output.c_str());
    if (status != 0 || bytes == 0) {
        std::fprintf(stderr, "a run failed (gdalwarp status %d)\n", status);
        return 1;
    }
    bench::report("mapservice_geotiff_1999", value, baseline, "1.0");
    return 0;
}
