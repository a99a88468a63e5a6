#include "mapservice/draw/overlay.h"

#include <ogr_srs_api.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

namespace mapservice {

namespace {

namespace gdal = common::gdal;

common::Error haltedError()
{
    return common::timedOut("the picture could not be drawn in time", 504);
}

// A MEM dataset of |width| x |height| pixels with |colourBands| bands and an alpha band, in
// geographic coordinates with its top-left pixel corner at |west|, |north|.
gdal::Dataset memoryDataset(int width, int height, int colourBands, double west, double north,
                            double degreesPerPixel)
{
    GDALDriverH mem = GDALGetDriverByName("MEM");
    gdal::Dataset dataset(GDALDataset::FromHandle(
        GDALCreate(mem, "", width, height, colourBands + 1, GDT_Byte, nullptr)));
    if (!dataset) {
        return dataset;
    }
    GDALDatasetH ds = gdal::handle(dataset);
    std::array<double, 6> transform{west, degreesPerPixel, 0, north, 0, -degreesPerPixel};
    GDALSetGeoTransform(ds, transform.data());
    OGRSpatialReferenceH wgs84 = OSRNewSpatialReference(nullptr);
    OSRImportFromEPSG(wgs84, 4326);
    OSRSetAxisMappingStrategy(wgs84, OAMS_TRADITIONAL_GIS_ORDER);
    GDALSetSpatialRef(ds, wgs84);
    OSRDestroySpatialReference(wgs84);
    GDALSetRasterColorInterpretation(GDALGetRasterBand(ds, colourBands + 1), GCI_AlphaBand);
    return dataset;
}

// Warps |source| into |target|, from overview |overview| ("AUTO", "NONE" or a number) of the
// source.
common::Status warp(GDALDatasetH source, GDALDatasetH target, const std::string& overview,
                    const Halt& halt)
{
    // The warp runs on every core; the source is read on this thread, so that GDAL's reason for
    // a failure stays visible here.
    CPLStringList arguments;
    for (const char* argument : {"-r", "bilinear", "-dstalpha", "-wo", "INIT_DEST=0", "-wo",
                                 "NUM_THREADS=ALL_CPUS", "-et", "0.125", "-ovr"}) {
        arguments.AddString(argument);
    }
    arguments.AddString(overview.c_str());
    // GDAL tells its progress as it goes through the strip's chunks: a picture given up on
    // stops there.
    const GDALProgressFunc progress = [](double, const char*, void* data) -> int {
        return halted(*static_cast<const Halt*>(data)) ? FALSE : TRUE;
    };
    return gdal::warp(source, target, arguments, progress, const_cast<Halt*>(&halt));
}

// The part of |request| that shows world copy |world| (longitudes shifted by 360 x |world|):
// the columns and the rows within +-90 degrees latitude.
struct Window {
    int left, right, top, bottom;
};

Window worldWindow(const Geometry& g, long world)
{
    const auto column = [&](double lon) {
        return std::clamp(
            static_cast<int>(std::ceil(std::clamp(g.x(lon) - 0.5, -1.0, g.width + 1.0))), 0,
            g.width);
    };
    const auto row = [&](double lat) {
        return std::clamp(
            static_cast<int>(std::ceil(std::clamp(g.y(lat) - 0.5, -1.0, g.height + 1.0))), 0,
            g.height);
    };
    const double shift = 360.0 * static_cast<double>(world);
    return {column(-180 + shift), column(180 + shift), row(90), row(-90)};
}

// Rows warped at once: a strip of a 4000-pixel-wide picture holds 4 MB.
constexpr int stripRows = 256;

// Warps |strip| of world copy |world| of the picture from |source| and lays it over |out|,
// the legend left as it is; the error gives GDAL's reason.
common::Status warpStrip(GDALDatasetH source, int bands, const std::string& overview,
                         const Geometry& g, long world, const Window& strip, const Legend& legend,
                         RgbImage& out, const Halt& halt)
{
    const int width = strip.right - strip.left;
    const int height = strip.bottom - strip.top;
    const gdal::Dataset target = memoryDataset(
        width, height, bands, g.lonAt(strip.left) - 360.0 * static_cast<double>(world),
        g.latAt(strip.top), g.degreesPerPixel);
    if (!target) {
        return common::permanent("cannot make room for the picture");
    }
    if (auto warped = warp(source, gdal::handle(target), overview, halt); !warped) {
        return halted(halt) ? haltedError() : warped;
    }
    // Pixel-interleaved: colour bands, then alpha.
    std::vector<std::uint8_t> values(static_cast<std::size_t>(width) * height * (bands + 1));
    const gdal::ErrorCapture errors;
    if (GDALDatasetRasterIO(gdal::handle(target), GF_Read, 0, 0, width, height, values.data(),
                            width, height, GDT_Byte, bands + 1, nullptr, bands + 1,
                            (bands + 1) * width, 1) != CE_None) {
        return errors.error(common::ErrorKind::Permanent, "cannot read the warped picture");
    }
    const auto mix = [](std::uint8_t over, std::uint8_t under, unsigned a) {
        return static_cast<std::uint8_t>((over * a + under * (255 - a) + 127) / 255);
    };
    for (int y = 0; y < height; ++y) {
        const int py = strip.top + y;
        for (int x = 0; x < width; ++x) {
            const int px = strip.left + x;
            const std::uint8_t* v =
                &values[(static_cast<std::size_t>(y) * width + x) * (bands + 1)];
            const unsigned a = v[bands];
            if (a == 0 || (px >= legend.x && px < legend.x + legend.width && py >= legend.y &&
                           py < legend.y + legend.height)) {
                continue;
            }
            const Rgb raster = bands == 3 ? Rgb{v[0], v[1], v[2]} : Rgb{v[0], v[0], v[0]};
            Rgb& pixel = out.at(px, py);
            pixel = {mix(raster.r, pixel.r, a), mix(raster.g, pixel.g, a),
                     mix(raster.b, pixel.b, a)};
        }
    }
    return {};
}

} // namespace

int colourBands(GDALDatasetH ds)
{
    const int bands = GDALGetRasterCount(ds);
    if (bands == 0) {
        return 0;
    }
    const GDALColorInterp last = GDALGetRasterColorInterpretation(GDALGetRasterBand(ds, bands));
    const int colour = last == GCI_AlphaBand ? bands - 1 : bands;
    return colour >= 3 ? 3 : 1;
}

common::Status overlayRaster(GDALDatasetH source, const std::string& overview, const Geometry& g,
                             const Legend& legend, int top, int bottom, RgbImage& out,
                             const Halt& halt)
{
    const int bands = colourBands(source);
    const double west = g.lonAt(0);
    const double east = g.lonAt(g.width);
    const long firstWorld = static_cast<long>(std::floor((west + 180) / 360));
    const long lastWorld = static_cast<long>(std::floor((east + 180) / 360));
    for (long world = firstWorld; world <= lastWorld; ++world) {
        const Window w = worldWindow(g, world);
        const int first = std::max(w.top, top);
        const int end = std::min(w.bottom, bottom);
        if (w.left >= w.right || first >= end) {
            continue;
        }
        for (int row = first; row < end; row += stripRows) {
            if (halted(halt)) {
                return haltedError();
            }
            const Window strip{w.left, w.right, row, std::min(end, row + stripRows)};
            if (auto warped =
                    warpStrip(source, bands, overview, g, world, strip, legend, out, halt);
                !warped) {
                return warped;
            }
        }
    }
    return {};
}

} // namespace mapservice
