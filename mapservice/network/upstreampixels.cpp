#include "mapservice/network/upstreampixels.h"

#include <algorithm>
#include <unistd.h>

namespace mapservice {

namespace gdal = common::gdal;

namespace {

// The largest picture an upstream answer may hold, a side.
constexpr int largestAnswer = 4096;

} // namespace

common::Result<std::vector<std::uint8_t>> decodeRgba(const std::string& file, int level,
                                                     std::int64_t column, std::int64_t row,
                                                     int width, int height,
                                                     const std::string& where)
{
    const gdal::ErrorCapture errors;
    const char* const drivers[] = {"PNG", "JPEG", "GIF", "WEBP", nullptr};
    const char* const noSiblings[] = {nullptr}; // nothing beside a cached answer is read
    gdal::Dataset dataset(GDALDataset::FromHandle(
        GDALOpenEx(file.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY, drivers, nullptr, noSiblings)));
    GDALDatasetH ds = gdal::handle(dataset);
    const int w = ds != nullptr ? GDALGetRasterXSize(ds) : 0;
    const int h = ds != nullptr ? GDALGetRasterYSize(ds) : 0;
    const int bands = ds != nullptr ? GDALGetRasterCount(ds) : 0;
    if (bands == 0 || w < 1 || h < 1) {
        ::unlink(file.c_str());
        const std::string why = errors.failed() ? ": " + errors.last().message : std::string();
        return common::passing(where + " does not decode as a picture" + why.substr(0, 120), 502);
    }
    if (w > largestAnswer || h > largestAnswer) {
        ::unlink(file.c_str());
        return common::passing(where + " is a picture of " + std::to_string(w) + " x " +
                                   std::to_string(h) + " pixels, more than " +
                                   std::to_string(largestAnswer) + " a side",
                               502);
    }
    const int parts = 1 << level;
    const int partWidth = std::max(1, w / parts);
    const int partHeight = std::max(1, h / parts);
    const int x = static_cast<int>(std::min<std::int64_t>(column * w / parts, w - partWidth));
    const int y = static_cast<int>(std::min<std::int64_t>(row * h / parts, h - partHeight));
    GDALRasterIOExtraArg extra;
    INIT_RASTERIO_EXTRA_ARG(extra);
    const auto pixels = static_cast<std::size_t>(width) * height;
    std::vector<std::uint8_t> rgba(pixels * 4, 255);
    GDALColorTableH table = GDALGetRasterColorTable(GDALGetRasterBand(ds, 1));
    CPLErr read = CE_None;
    if (table != nullptr) {
        std::vector<std::uint8_t> index(pixels);
        read = GDALRasterIOEx(GDALGetRasterBand(ds, 1), GF_Read, x, y, partWidth, partHeight,
                              index.data(), width, height, GDT_Byte, 0, 0, &extra);
        for (std::size_t i = 0; i < pixels; ++i) {
            const GDALColorEntry* entry = GDALGetColorEntry(table, index[i]);
            if (entry != nullptr) {
                rgba[i * 4] = static_cast<std::uint8_t>(entry->c1);
                rgba[i * 4 + 1] = static_cast<std::uint8_t>(entry->c2);
                rgba[i * 4 + 2] = static_cast<std::uint8_t>(entry->c3);
                rgba[i * 4 + 3] = static_cast<std::uint8_t>(entry->c4);
            }
        }
    } else {
        // Grey, grey and alpha, colours, colours and alpha.
        std::array<int, 4> map{1, 1, 1, 2};
        int count = bands == 2 ? 4 : 3;
        if (bands >= 3) {
            map = {1, 2, 3, 4};
            count = bands >= 4 ? 4 : 3;
        }
        extra.eResampleAlg = level > 0 ? GRIORA_Bilinear : GRIORA_NearestNeighbour;
        read = GDALDatasetRasterIOEx(ds, GF_Read, x, y, partWidth, partHeight, rgba.data(), width,
                                     height, GDT_Byte, count, map.data(), 4, GSpacing{4} * width, 1,
                                     &extra);
    }
    if (read != CE_None) {
        ::unlink(file.c_str());
        return errors.error(common::ErrorKind::Passing, where + " cannot be read", 502);
    }
    return rgba;
}

gdal::Dataset rgbaDataset(int width, int height, const std::array<double, 6>& transform,
                          OGRSpatialReferenceH srs)
{
    gdal::Dataset dataset(GDALDataset::FromHandle(
        GDALCreate(GDALGetDriverByName("MEM"), "", width, height, 4, GDT_Byte, nullptr)));
    if (!dataset) {
        return dataset;
    }
    GDALDatasetH ds = gdal::handle(dataset);
    std::array<double, 6> t = transform;
    GDALSetGeoTransform(ds, t.data());
    GDALSetSpatialRef(ds, srs);
    GDALSetRasterColorInterpretation(GDALGetRasterBand(ds, 4), GCI_AlphaBand);
    return dataset;
}

common::Status writeRgba(GDALDatasetH ds, int x, int y, int width, int height,
                         std::vector<std::uint8_t>& rgba)
{
    if (GDALDatasetRasterIO(ds, GF_Write, x, y, width, height, rgba.data(), width, height, GDT_Byte,
                            4, nullptr, 4, 4 * width, 1) != CE_None) {
        return common::permanent("cannot lay out the upstream pictures", 500);
    }
    return {};
}

} // namespace mapservice
