#include "mapservice/rastersource.h"

#include "common/gdalerrors.h"
#include "mapservice/drawing.h"
#include "mapservice/geometry.h"
#include "mapservice/quantize.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <gdal.h>
#include <gdal_utils.h>
#include <ogr_srs_api.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <mutex>

namespace mapservice {

namespace {

void registerDrivers()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // Upstream tiles are cached on disk; in memory GDAL keeps only what a few pictures
        // need (its default, a twentieth of the machine's memory, would be most of a budget).
        CPLSetConfigOption("GDAL_CACHEMAX", "64");
        GDALAllRegister();
    });
}

using QuietErrors = common::QuietGdalErrors;

// A MEM dataset of |width| x |height| pixels with |colourBands| bands and an alpha band, in
// geographic coordinates with its top-left pixel corner at |west|, |north|.
GDALDatasetH memoryDataset(int width, int height, int colourBands, double west, double north,
                           double degreesPerPixel)
{
    GDALDriverH mem = GDALGetDriverByName("MEM");
    GDALDatasetH ds = GDALCreate(mem, "", width, height, colourBands + 1, GDT_Byte, nullptr);
    if (ds == nullptr) {
        return nullptr;
    }
    std::array<double, 6> transform{west, degreesPerPixel, 0, north, 0, -degreesPerPixel};
    GDALSetGeoTransform(ds, transform.data());
    OGRSpatialReferenceH wgs84 = OSRNewSpatialReference(nullptr);
    OSRImportFromEPSG(wgs84, 4326);
    OSRSetAxisMappingStrategy(wgs84, OAMS_TRADITIONAL_GIS_ORDER);
    GDALSetSpatialRef(ds, wgs84);
    OSRDestroySpatialReference(wgs84);
    GDALSetRasterColorInterpretation(GDALGetRasterBand(ds, colourBands + 1), GCI_AlphaBand);
    return ds;
}

// The colour bands of a dataset: 1 (grey), 3 (red, green, blue), or 0 when it has no bands.
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

// A dataset whose palette, if it has one, is expanded to colours: the warper works on values.
GDALDatasetH expanded(GDALDatasetH ds)
{
    if (GDALGetRasterCount(ds) != 1 ||
        GDALGetRasterColorTable(GDALGetRasterBand(ds, 1)) == nullptr) {
        return ds;
    }
    const char* args[] = {"-of", "VRT", "-expand", "rgba", nullptr};
    GDALTranslateOptions* options = GDALTranslateOptionsNew(const_cast<char**>(args), nullptr);
    GDALDatasetH vrt = GDALTranslate("", ds, options, nullptr);
    GDALTranslateOptionsFree(options);
    if (vrt == nullptr) {
        return ds;
    }
    GDALClose(ds);
    return vrt;
}

// Warps |source| into |target|, from overview |overview| ("AUTO", "NONE" or a number) of the
// source; false with GDAL's reason when that fails.
bool warp(GDALDatasetH source, GDALDatasetH target, const std::string& overview, std::string& error)
{
    // The warp runs on every core; the source is read on this thread, so that GDAL's reason for
    // a failure stays visible here.
    const char* args[] = {"-r",
                          "bilinear",
                          "-dstalpha",
                          "-wo",
                          "INIT_DEST=0",
                          "-wo",
                          "NUM_THREADS=ALL_CPUS",
                          "-et",
                          "0.125",
                          "-ovr",
                          overview.c_str(),
                          nullptr};
    GDALWarpAppOptions* options = GDALWarpAppOptionsNew(const_cast<char**>(args), nullptr);
    int usageError = 0;
    GDALDatasetH sources[] = {source};
    const GDALDatasetH result = GDALWarp(nullptr, target, 1, sources, options, &usageError);
    GDALWarpAppOptionsFree(options);
    if (result == nullptr) {
        error = QuietErrors::last();
        return false;
    }
    return true;
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

// The credit a dataset names in its metadata, or nothing.
std::string metadataAttribution(GDALDatasetH ds)
{
    for (const char* key : {"attribution", "ATTRIBUTION", "TIFFTAG_COPYRIGHT", "COPYRIGHT"}) {
        if (const char* value = GDALGetMetadataItem(ds, key, nullptr);
            value != nullptr && *value != '\0') {
            return value;
        }
    }
    return {};
}

// Rows warped at once: a strip of a 4000-pixel-wide picture holds 4 MB.
constexpr int stripRows = 256;

// Warps |strip| of world copy |world| of the picture from |source| and lays it over |out|,
// the legend left as it is. Nothing on success, else GDAL's reason.
std::optional<std::string> warpStrip(GDALDatasetH source, int bands, const std::string& overview,
                                     const Geometry& g, long world, const Window& strip,
                                     const Legend& legend, RgbImage& out)
{
    const int width = strip.right - strip.left;
    const int height = strip.bottom - strip.top;
    GDALDatasetH target = memoryDataset(width, height, bands,
                                        g.lonAt(strip.left) - 360.0 * static_cast<double>(world),
                                        g.latAt(strip.top), g.degreesPerPixel);
    if (target == nullptr) {
        return std::string("cannot make room for the picture");
    }
    std::string error;
    if (!warp(source, target, overview, error)) {
        GDALClose(target);
        return error;
    }
    // Pixel-interleaved: colour bands, then alpha.
    std::vector<std::uint8_t> values(static_cast<std::size_t>(width) * height * (bands + 1));
    const bool readOk = GDALDatasetRasterIO(target, GF_Read, 0, 0, width, height, values.data(),
                                            width, height, GDT_Byte, bands + 1, nullptr, bands + 1,
                                            (bands + 1) * width, 1) == CE_None;
    GDALClose(target);
    if (!readOk) {
        return "cannot read the warped picture: " + QuietErrors::last();
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
    return std::nullopt;
}

// An upstream that did not answer in time is told apart: the client may try again later.
Refusal upstreamFailure(const std::string& connection, const std::string& error)
{
    std::string lower = error;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const bool timeout =
        lower.find("timed out") != std::string::npos || lower.find("timeout") != std::string::npos;
    // A service description is long and says little to a reader; the reason is enough.
    const std::string name = connection.rfind("<GDAL_WMS>", 0) == 0 ? "upstream" : connection;
    return {timeout ? 504 : 502, "the map source " + name + " failed: " + error};
}

} // namespace

int tileZoomFor(double degreesPerPixel, int finestZoom)
{
    const double zoom = std::ceil(std::log2(360.0 / (256.0 * degreesPerPixel)) - 1e-9);
    return static_cast<int>(std::clamp(zoom, 0.0, static_cast<double>(finestZoom)));
}

RasterSource::RasterSource(std::string connection, const ShoreData& shores,
                           std::optional<int> finestZoom, void* first)
    : connection_(std::move(connection)), drawn_(shores),
      finestZoom_(finestZoom), idle_{first}, all_{first}
{}

RasterSource::~RasterSource()
{
    for (void* ds : all_) {
        GDALClose(static_cast<GDALDatasetH>(ds));
    }
}

Result<std::unique_ptr<RasterSource>> RasterSource::open(const std::string& connection,
                                                         const ShoreData& shores,
                                                         std::optional<int> finestZoom,
                                                         bool oneAtATime)
{
    registerDrivers();
    const QuietErrors quiet;
    GDALDatasetH ds = GDALOpenEx(connection.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY, nullptr,
                                 nullptr, nullptr);
    if (ds == nullptr) {
        return Refusal{500, "the map source " + connection +
                                " cannot be opened: " + QuietErrors::last()};
    }
    if (colourBands(ds) == 0 || GDALGetSpatialRef(ds) == nullptr) {
        GDALClose(ds);
        return Refusal{500, "the map source " + connection +
                                " is no georeferenced raster (no bands or no coordinate system)"};
    }
    const std::string attribution = metadataAttribution(ds);
    auto source = std::unique_ptr<RasterSource>(
        new RasterSource(connection, shores, finestZoom, expanded(ds)));
    source->attribution_ = attribution;
    source->oneAtATime_ = oneAtATime;
    return source;
}

Result<void*> RasterSource::acquire() const
{
    {
        std::unique_lock lock(mutex_);
        if (oneAtATime_) {
            returned_.wait(lock, [this] { return !idle_.empty(); });
        }
        if (!idle_.empty()) {
            void* ds = idle_.back();
            idle_.pop_back();
            return ds;
        }
    }
    const QuietErrors quiet;
    GDALDatasetH ds = GDALOpenEx(connection_.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY, nullptr,
                                 nullptr, nullptr);
    if (ds == nullptr) {
        return Refusal{502, "the map source " + connection_ +
                                " cannot be opened: " + QuietErrors::last()};
    }
    ds = expanded(ds);
    const std::lock_guard lock(mutex_);
    all_.push_back(ds);
    return static_cast<void*>(ds);
}

void RasterSource::release(void* dataset) const
{
    {
        const std::lock_guard lock(mutex_);
        idle_.push_back(dataset);
    }
    returned_.notify_one();
}

Result<Picture> RasterSource::draw(const MapRequest& asked) const
{
    MapRequest request = asked;
    if (request.attribution.empty()) {
        request.attribution = attribution_;
    }
    const Geometry g(request);
    auto base = drawn_.draw(request);
    if (std::holds_alternative<Refusal>(base)) {
        return base;
    }
    RgbImage out(g.width, g.height, {0, 0, 0});
    {
        const Picture drawn = std::get<Picture>(std::move(base)); // gone once it is in colours
        for (std::size_t i = 0; i < out.pixels.size(); ++i) {
            out.pixels[i] = drawn.palette[drawn.image.pixels[i]];
        }
    }
    const double west = g.lonAt(0);
    const double east = g.lonAt(g.width);
    if (east - west <= 360 * maxWorldsAcross) {
        auto acquired = acquire();
        if (const auto* refused = std::get_if<Refusal>(&acquired)) {
            return *refused;
        }
        const auto source = static_cast<GDALDatasetH>(std::get<void*>(acquired));
        struct Release {
            const RasterSource& self;
            void* ds;
            ~Release() { self.release(ds); }
        } release{*this, source};
        const int bands = colourBands(source);
        // Overview i of a tile server's dataset holds zoom finest - 1 - i.
        std::string overview = "AUTO";
        if (finestZoom_) {
            const int zoom = tileZoomFor(g.degreesPerPixel, *finestZoom_);
            overview = zoom == *finestZoom_ ? "NONE" : std::to_string(*finestZoom_ - 1 - zoom);
        }
        const Legend legend = legendBox(g, request);
        const QuietErrors quiet;
        const long firstWorld = static_cast<long>(std::floor((west + 180) / 360));
        const long lastWorld = static_cast<long>(std::floor((east + 180) / 360));
        for (long world = firstWorld; world <= lastWorld; ++world) {
            const Window w = worldWindow(g, world);
            if (w.left >= w.right || w.top >= w.bottom) {
                continue;
            }
            // In strips of rows, so that a large picture never holds its whole raster twice.
            for (int top = w.top; top < w.bottom; top += stripRows) {
                const Window strip{w.left, w.right, top, std::min(w.bottom, top + stripRows)};
                if (const auto error =
                        warpStrip(source, bands, overview, g, world, strip, legend, out)) {
                    return upstreamFailure(connection_, *error);
                }
            }
        }
    }
    return quantize(out);
}

} // namespace mapservice
