#pragma once

// Writes GeoTIFFs for the tests and benchmarks of raster map sources.
#include <gdal.h>
#include <ogr_srs_api.h>

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace testsupport {

// The colour of the pixel in |column|, |row| as red, green and blue.
using PixelPaint = std::function<std::array<std::uint8_t, 3>(int column, int row)>;

// Writes an RGB GeoTIFF of |width| x |height| pixels in EPSG:|epsg|, its top-left corner at
// |west|, |north| and its pixels |pixelWidth| wide and |pixelHeight| high (both positive, in the
// system's units). False when GDAL cannot write it.
inline bool writeGeotiff(const std::string& path, int epsg, double west, double north,
                         double pixelWidth, double pixelHeight, int width, int height,
                         const PixelPaint& paint)
{
    GDALAllRegister();
    GDALDatasetH ds =
        GDALCreate(GDALGetDriverByName("GTiff"), path.c_str(), width, height, 3, GDT_Byte, nullptr);
    if (ds == nullptr) {
        return false;
    }
    std::array<double, 6> transform{west, pixelWidth, 0, north, 0, -pixelHeight};
    GDALSetGeoTransform(ds, transform.data());
    OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
    OSRImportFromEPSG(srs, epsg);
    GDALSetSpatialRef(ds, srs);
    OSRDestroySpatialReference(srs);
    // Pixel-interleaved rows: all three bands written at once.
    std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * 3);
    bool ok = true;
    for (int y = 0; y < height && ok; ++y) {
        for (int x = 0; x < width; ++x) {
            const auto c = paint(x, y);
            std::copy(c.begin(), c.end(), row.begin() + static_cast<std::ptrdiff_t>(x) * 3);
        }
        ok = GDALDatasetRasterIO(ds, GF_Write, 0, y, width, 1, row.data(), width, 1, GDT_Byte, 3,
                                 nullptr, 3, 3 * width, 1) == CE_None;
    }
    GDALClose(ds);
    return ok;
}

} // namespace testsupport
