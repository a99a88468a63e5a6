#include "mapservice/rastersource.h"

#include "common/gdal.h"
#include "mapservice/drawing.h"
#include "mapservice/geometry.h"
#include "mapservice/quantize.h"

#include <ogr_srs_api.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <mutex>

namespace mapservice {

namespace {

namespace gdal = common::gdal;

void setUpGdal()
{
    // Upstream tiles are cached on disk; in memory GDAL keeps only what a few pictures need
    // (its default, a twentieth of the machine's memory, would be most of a budget).
    gdal::setUp({{"GDAL_CACHEMAX", "64"}});
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
// A VRT over the original keeps it open, so the handle of the expansion is the one to hold.
gdal::Dataset expanded(gdal::Dataset dataset)
{
    GDALDatasetH ds = gdal::handle(dataset);
    if (GDALGetRasterCount(ds) != 1 ||
        GDALGetRasterColorTable(GDALGetRasterBand(ds, 1)) == nullptr) {
        return dataset;
    }
    CPLStringList arguments;
    arguments.AddString("-of").AddString("VRT").AddString("-expand").AddString("rgba");
    auto vrt = gdal::translate("", ds, arguments);
    return vrt ? std::move(vrt).value() : std::move(dataset);
}

// Warps |source| into |target|, from overview |overview| ("AUTO", "NONE" or a number) of the
// source.
common::Status warp(GDALDatasetH source, GDALDatasetH target, const std::string& overview)
{
    // The warp runs on every core; the source is read on this thread, so that GDAL's reason for
    // a failure stays visible here.
    CPLStringList arguments;
    for (const char* argument : {"-r", "bilinear", "-dstalpha", "-wo", "INIT_DEST=0", "-wo",
                                 "NUM_THREADS=ALL_CPUS", "-et", "0.125", "-ovr"}) {
        arguments.AddString(argument);
    }
    arguments.AddString(overview.c_str());
    return gdal::warp(source, target, arguments);
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
// the legend left as it is; the error gives GDAL's reason.
common::Status warpStrip(GDALDatasetH source, int bands, const std::string& overview,
                         const Geometry& g, long world, const Window& strip, const Legend& legend,
                         RgbImage& out)
{
    const int width = strip.right - strip.left;
    const int height = strip.bottom - strip.top;
    const gdal::Dataset target = memoryDataset(
        width, height, bands, g.lonAt(strip.left) - 360.0 * static_cast<double>(world),
        g.latAt(strip.top), g.degreesPerPixel);
    if (!target) {
        return common::permanent("cannot make room for the picture");
    }
    if (auto warped = warp(source, gdal::handle(target), overview); !warped) {
        return warped;
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

// An upstream that did not answer in time is told apart: the client may try again later.
common::Error upstreamFailure(const std::string& connection, const std::string& error)
{
    std::string lower = error;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const bool timeout =
        lower.find("timed out") != std::string::npos || lower.find("timeout") != std::string::npos;
    // A service description is long and says little to a reader; the reason is enough.
    const std::string name = connection.rfind("<GDAL_WMS>", 0) == 0 ? "upstream" : connection;
    return {timeout ? common::ErrorKind::TimedOut : common::ErrorKind::Passing,
            "the map source " + name + " failed: " + error, timeout ? 504 : 502};
}

} // namespace

int tileZoomFor(double degreesPerPixel, int finestZoom)
{
    const double zoom = std::ceil(std::log2(360.0 / (256.0 * degreesPerPixel)) - 1e-9);
    return static_cast<int>(std::clamp(zoom, 0.0, static_cast<double>(finestZoom)));
}

RasterSource::RasterSource(std::string connection, const ShoreData& shores,
                           std::optional<int> finestZoom, gdal::Dataset first)
    : connection_(std::move(connection)), drawn_(shores), finestZoom_(finestZoom)
{
    idle_.push_back(std::move(first));
}

RasterSource::~RasterSource() = default;

common::Result<std::unique_ptr<RasterSource>> RasterSource::open(const std::string& connection,
                                                                 const ShoreData& shores,
                                                                 std::optional<int> finestZoom,
                                                                 bool oneAtATime)
{
    setUpGdal();
    auto opened = gdal::openRaster(connection);
    if (!opened) {
        common::Error error = opened.error();
        error.text = "the map source " + error.text;
        return error;
    }
    GDALDatasetH ds = gdal::handle(*opened);
    if (colourBands(ds) == 0 || GDALGetSpatialRef(ds) == nullptr) {
        return common::badInput("the map source " + connection +
                                " is no georeferenced raster (no bands or no coordinate system)");
    }
    const std::string attribution = metadataAttribution(ds);
    auto source = std::unique_ptr<RasterSource>(
        new RasterSource(connection, shores, finestZoom, expanded(std::move(opened).value())));
    source->attribution_ = attribution;
    source->oneAtATime_ = oneAtATime;
    return source;
}

common::Result<RasterSource::Lease> RasterSource::acquire() const
{
    {
        std::unique_lock lock(mutex_);
        if (oneAtATime_) {
            returned_.wait(lock, [this] { return !idle_.empty(); });
        }
        if (!idle_.empty()) {
            gdal::Dataset dataset = std::move(idle_.back());
            idle_.pop_back();
            return Lease(*this, std::move(dataset));
        }
    }
    auto opened = gdal::openRaster(connection_);
    if (!opened) {
        return common::Error{common::ErrorKind::Passing, "the map source " + opened.error().text,
                             502};
    }
    return Lease(*this, expanded(std::move(opened).value()));
}

RasterSource::Lease::~Lease()
{
    if (!dataset_) {
        return; // moved from
    }
    {
        const std::lock_guard lock(owner_->mutex_);
        owner_->idle_.push_back(std::move(dataset_));
    }
    owner_->returned_.notify_one();
}

common::Result<Picture> RasterSource::draw(const MapRequest& asked) const
{
    MapRequest request = asked;
    if (request.attribution.empty()) {
        request.attribution = attribution_;
    }
    const Geometry g(request);
    auto base = drawn_.draw(request);
    if (!base) {
        return base;
    }
    RgbImage out(g.width, g.height, {0, 0, 0});
    {
        const Picture drawn = std::move(base).value(); // gone once it is in colours
        for (std::size_t i = 0; i < out.pixels.size(); ++i) {
            out.pixels[i] = drawn.palette[drawn.image.pixels[i]];
        }
    }
    const double west = g.lonAt(0);
    const double east = g.lonAt(g.width);
    if (east - west <= 360 * maxWorldsAcross) {
        auto lease = acquire();
        if (!lease) {
            return lease.error();
        }
        GDALDatasetH source = lease->handle();
        const int bands = colourBands(source);
        // Overview i of a tile server's dataset holds zoom finest - 1 - i.
        std::string overview = "AUTO";
        if (finestZoom_) {
            const int zoom = tileZoomFor(g.degreesPerPixel, *finestZoom_);
            overview = zoom == *finestZoom_ ? "NONE" : std::to_string(*finestZoom_ - 1 - zoom);
        }
        const Legend legend = legendBox(g, request);
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
                if (const auto warped =
                        warpStrip(source, bands, overview, g, world, strip, legend, out);
                    !warped) {
                    return upstreamFailure(connection_, warped.error().text);
                }
            }
        }
    }
    Picture picture = quantize(out);
    picture.credit = request.attribution; // the raster's own; none when it names none
    return picture;
}

} // namespace mapservice
