#include "mapservice/rastersource.h"

#include "common/gdal.h"
#include "mapservice/drawing.h"
#include "mapservice/geometry.h"
#include "mapservice/overlay.h"
#include "mapservice/quantize.h"

#include <ogr_srs_api.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <mutex>
#include <sys/stat.h>

namespace mapservice {

namespace {

namespace gdal = common::gdal;

void setUpGdal()
{
    // In memory GDAL keeps only what a few pictures need (its default, a twentieth of the
    // machine's memory, would be most of a budget).
    gdal::setUp({{"GDAL_CACHEMAX", "64"}});
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

} // namespace

RasterSource::RasterSource(std::string connection, const ShoreData& shores, gdal::Dataset first)
    : connection_(std::move(connection)), drawn_(shores)
{
    idle_.push_back(std::move(first));
}

RasterSource::~RasterSource() = default;

common::Result<std::unique_ptr<RasterSource>> RasterSource::open(const std::string& connection,
                                                                 const ShoreData& shores)
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
        new RasterSource(connection, shores, expanded(std::move(opened).value())));
    source->attribution_ = attribution;
    return source;
}

common::Result<RasterSource::Lease> RasterSource::acquire() const
{
    {
        const std::lock_guard lock(mutex_);
        if (!idle_.empty()) {
            gdal::Dataset dataset = std::move(idle_.back());
            idle_.pop_back();
            return Lease(*this, std::move(dataset));
        }
    }
    auto opened = gdal::openRaster(connection_);
    if (!opened) {
        return common::Error{common::ErrorKind::Permanent, "the map source " + opened.error().text,
                             500};
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
}

Freshness RasterSource::freshness(const MapRequest& /*request*/, const Gathered* /*gathered*/) const
{
    Freshness fresh("file " + connection_);
    struct stat status {};
    if (::stat(connection_.c_str(), &status) == 0) {
        fresh.identity += " " + std::to_string(status.st_size) + "@" +
                          std::to_string(status.st_mtim.tv_sec) + "." +
                          std::to_string(status.st_mtim.tv_nsec);
        fresh.lastModified = status.st_mtime;
    }
    return fresh;
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
    if (g.lonAt(g.width) - g.lonAt(0) <= 360 * maxWorldsAcross) {
        auto lease = acquire();
        if (!lease) {
            return lease.error();
        }
        if (auto laid =
                overlayRaster(lease->handle(), "AUTO", g, legendBox(g, request), 0, g.height, out);
            !laid) {
            return common::Error{
                common::ErrorKind::Permanent,
                "the map source " + connection_ + " cannot be read: " + laid.error().text, 500};
        }
    }
    Picture picture = quantize(out);
    picture.credit = request.attribution; // the raster's own; none when it names none
    return picture;
}

} // namespace mapservice
