#include "rastersource.h"

#include "drawing.h"
#include "geometry.h"
#include "quantize.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cpl_error.h>
#include <gdal.h>
#include <gdal_utils.h>
#include <mutex>
#include <ogr_srs_api.h>

namespace mapservice {

namespace {

void registerDrivers()
{
    static std::once_flag once;
    std::call_once(once, [] { GDALAllRegister(); });
}

// Collects GDAL's last error message on this thread instead of printing it.
class QuietErrors {
public:
    QuietErrors() { CPLPushErrorHandler(CPLQuietErrorHandler); }
    ~QuietErrors() { CPLPopErrorHandler(); }
    QuietErrors(const QuietErrors&) = delete;
    QuietErrors& operator=(const QuietErrors&) = delete;
    static std::string last()
    {
        const char* message = CPLGetLastErrorMsg();
        return message != nullptr && *message != '\0' ? message : "unknown error";
    }
};

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
                                                         std::optional<int> finestZoom)
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
    return source;
}

Result<void*> RasterSource::acquire() const
{
    {
        const std::lock_guard lock(mutex_);
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
    const std::lock_guard lock(mutex_);
    idle_.push_back(dataset);
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
    const Picture& drawn = std::get<Picture>(base);
    RgbImage out(g.width, g.height, {0, 0, 0});
    for (std::size_t i = 0; i < out.pixels.size(); ++i) {
        out.pixels[i] = drawn.palette[drawn.image.pixels[i]];
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
            const int width = w.right - w.left;
            const int height = w.bottom - w.top;
            GDALDatasetH target =
                memoryDataset(width, height, bands, g.lonAt(w.left) - 360.0 * world, g.latAt(w.top),
                              g.degreesPerPixel);
            if (target == nullptr) {
                return Refusal{500, "cannot make room for the picture"};
            }
            std::string error;
            if (!warp(source, target, overview, error)) {
                GDALClose(target);
                return upstreamFailure(connection_, error);
            }
            std::vector<std::uint8_t> band(static_cast<std::size_t>(width) * height);
            std::array<std::vector<std::uint8_t>, 4> values;
            bool readOk = true;
            for (int b = 0; b <= bands && readOk; ++b) {
                values[b].resize(band.size());
                readOk =
                    GDALRasterIO(GDALGetRasterBand(target, b + 1), GF_Read, 0, 0, width, height,
                                 values[b].data(), width, height, GDT_Byte, 0, 0) == CE_None;
            }
            GDALClose(target);
            if (!readOk) {
                return Refusal{500, "cannot read the warped picture: " + QuietErrors::last()};
            }
            const std::vector<std::uint8_t>& alpha = values[bands];
            for (int y = 0; y < height; ++y) {
                for (int x = 0; x < width; ++x) {
                    const int px = w.left + x;
                    const int py = w.top + y;
                    const bool inLegend = px >= legend.x && px < legend.x + legend.width &&
                                          py >= legend.y && py < legend.y + legend.height;
                    const std::size_t i = static_cast<std::size_t>(y) * width + x;
                    const unsigned a = alpha[i];
                    if (a == 0 || inLegend) {
                        continue;
                    }
                    const Rgb raster = bands == 3 ? Rgb{values[0][i], values[1][i], values[2][i]}
                                                  : Rgb{values[0][i], values[0][i], values[0][i]};
                    Rgb& pixel = out.at(px, py);
                    const auto mix = [a](std::uint8_t over, std::uint8_t under) {
                        return static_cast<std::uint8_t>((over * a + under * (255 - a) + 127) /
                                                         255);
                    };
                    pixel = {mix(raster.r, pixel.r), mix(raster.g, pixel.g),
                             mix(raster.b, pixel.b)};
                }
            }
        }
    }
    return quantize(out);
}

} // namespace mapservice
