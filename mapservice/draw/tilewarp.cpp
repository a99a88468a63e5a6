#include "mapservice/draw/tilewarp.h"

#include "common/gdal.h"
#include "common/webmercator.h"

#include <cpl_vsi.h>
#include <ogr_srs_api.h>

#include <array>
#include <atomic>
#include <vector>

namespace mapservice {

namespace {

namespace gdal = common::gdal;

// A MEM dataset of |bands| bytes per pixel in |epsg|, its top-left corner and pixel size as
// |transform| says.
gdal::Dataset memory(int width, int height, int bands, int epsg,
                     const std::array<double, 6>& transform)
{
    gdal::Dataset ds(GDALDataset::FromHandle(
        GDALCreate(GDALGetDriverByName("MEM"), "", width, height, bands, GDT_Byte, nullptr)));
    if (!ds) {
        return ds;
    }
    std::array<double, 6> t = transform;
    GDALSetGeoTransform(gdal::handle(ds), t.data());
    OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
    OSRImportFromEPSG(srs, epsg);
    OSRSetAxisMappingStrategy(srs, OAMS_TRADITIONAL_GIS_ORDER);
    GDALSetSpatialRef(gdal::handle(ds), srs);
    OSRDestroySpatialReference(srs);
    return ds;
}

// A name of its own in GDAL's memory file system.
std::string memoryFileName(const char* ending)
{
    static std::atomic<unsigned long> next{0};
    return "/vsimem/mapservice-tile-" + std::to_string(++next) + "." + ending;
}

} // namespace

common::Result<std::string> encodeTile(const RgbImage& image, TileFormat format)
{
    gdal::setUp();
    const gdal::ErrorCapture errors;
    gdal::Dataset ds = memory(image.width, image.height, 3, 4326, {0, 1, 0, 0, 0, -1});
    if (!ds) {
        return common::permanent("cannot make room for the tile", 500);
    }
    std::vector<std::uint8_t> bytes(image.pixels.size() * 3);
    for (std::size_t i = 0; i < image.pixels.size(); ++i) {
        bytes[i * 3] = image.pixels[i].r;
        bytes[i * 3 + 1] = image.pixels[i].g;
        bytes[i * 3 + 2] = image.pixels[i].b;
    }
    if (GDALDatasetRasterIO(gdal::handle(ds), GF_Write, 0, 0, image.width, image.height,
                            bytes.data(), image.width, image.height, GDT_Byte, 3, nullptr, 3,
                            3 * image.width, 1) != CE_None) {
        return errors.error(common::ErrorKind::Permanent, "cannot lay out the tile");
    }
    const char* driver = format == TileFormat::Jpeg   ? "JPEG"
                         : format == TileFormat::Webp ? "WEBP"
                                                      : "PNG";
    CPLStringList options;
    if (format != TileFormat::Png) {
        options.AddString("QUALITY=90");
    }
    const std::string name = memoryFileName(endingOf(format));
    GDALDatasetH written =
        GDALCreateCopy(GDALGetDriverByName(driver), name.c_str(), gdal::handle(ds), FALSE,
                       options.List(), nullptr, nullptr);
    if (written == nullptr) {
        VSIUnlink(name.c_str());
        return errors.error(common::ErrorKind::Permanent, "cannot encode the tile");
    }
    GDALClose(written);
    vsi_l_offset size = 0;
    GByte* data = VSIGetMemFileBuffer(name.c_str(), &size, TRUE);
    std::string out(reinterpret_cast<const char*>(data), static_cast<std::size_t>(size));
    VSIFree(data);
    VSIUnlink(name.c_str()); // the .aux.xml GDAL may have written beside it
    VSIUnlink((name + ".aux.xml").c_str());
    return out;
}

common::Result<std::string> warpToTile(const Picture& picture, const Geometry& g,
                                       const TileAsk& tile, const Halt& halt)
{
    gdal::setUp();
    const gdal::ErrorCapture errors;
    gdal::Dataset from =
        memory(g.width, g.height, 3, 4326,
               {g.lonAt(0), g.degreesPerPixel, 0, g.latAt(0), 0, -g.degreesPerPixel});
    if (!from) {
        return common::permanent("cannot make room for the tile's picture", 500);
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(g.width) * g.height * 3);
    for (std::size_t i = 0; i < picture.image.pixels.size(); ++i) {
        const Rgb c = picture.palette[picture.image.pixels[i]];
        bytes[i * 3] = c.r;
        bytes[i * 3 + 1] = c.g;
        bytes[i * 3 + 2] = c.b;
    }
    if (GDALDatasetRasterIO(gdal::handle(from), GF_Write, 0, 0, g.width, g.height, bytes.data(),
                            g.width, g.height, GDT_Byte, 3, nullptr, 3, 3 * g.width,
                            1) != CE_None) {
        return errors.error(common::ErrorKind::Permanent, "cannot lay out the tile's picture");
    }
    const double size = 2 * common::mercator::halfWorldMetres / std::ldexp(1.0, tile.z);
    const int side = tile.side();
    gdal::Dataset to = memory(
        side, side, 3, 3857,
        {-common::mercator::halfWorldMetres + static_cast<double>(tile.x) * size, size / side, 0,
         common::mercator::halfWorldMetres - static_cast<double>(tile.y) * size, 0, -size / side});
    if (!to) {
        return common::permanent("cannot make room for the tile", 500);
    }
    CPLStringList arguments;
    for (const char* argument : {"-r", "bilinear", "-et", "0"}) {
        arguments.AddString(argument);
    }
    const GDALProgressFunc progress = [](double, const char*, void* data) -> int {
        return halted(*static_cast<const Halt*>(data)) ? FALSE : TRUE;
    };
    if (auto warped = gdal::warp(gdal::handle(from), gdal::handle(to), arguments, progress,
                                 const_cast<Halt*>(&halt));
        !warped) {
        return halted(halt) ? common::timedOut("the tile could not be drawn in time", 504)
                            : warped.error();
    }
    RgbImage out(side, side, {0, 0, 0});
    std::vector<std::uint8_t> tileBytes(static_cast<std::size_t>(side) * side * 3);
    if (GDALDatasetRasterIO(gdal::handle(to), GF_Read, 0, 0, side, side, tileBytes.data(), side,
                            side, GDT_Byte, 3, nullptr, 3, 3 * side, 1) != CE_None) {
        return errors.error(common::ErrorKind::Permanent, "cannot read the warped tile");
    }
    for (std::size_t i = 0; i < out.pixels.size(); ++i) {
        out.pixels[i] = {tileBytes[i * 3], tileBytes[i * 3 + 1], tileBytes[i * 3 + 2]};
    }
    return encodeTile(out, tile.format);
}

} // namespace mapservice
