#include "mapservice/sources/rastersource.h"

#include "common/gdal.h"
#include "mapservice/draw/drawing.h"
#include "mapservice/draw/overlay.h"
#include "mapservice/draw/quantize.h"
#include "mapservice/protocol/geometry.h"

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

// What tells a file's content from another's: its device and inode (a file put in its place by
// a rename), size and time of change (one rewritten in place); "" for what is no file (a GDAL
// connection string), which is never opened again.
std::string fileIdentity(const std::string& connection)
{
    struct stat status {};
    if (::stat(connection.c_str(), &status) != 0) {
        return {};
    }
    return std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino) + " " +
           std::to_string(status.st_size) + "@" + std::to_string(status.st_mtim.tv_sec) + "." +
           std::to_string(status.st_mtim.tv_nsec);
}

} // namespace

RasterSource::RasterSource(std::string connection, const ShoreData& shores, gdal::Dataset first,
                           std::string identity)
    : connection_(std::move(connection)), drawn_(shores)
{
    idle_.push_back({std::move(first), std::move(identity)});
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
    const std::string identity = fileIdentity(connection);
    GDALDatasetH ds = gdal::handle(*opened);
    if (colourBands(ds) == 0 || GDALGetSpatialRef(ds) == nullptr) {
        return common::badInput("the map source " + connection +
                                " is no georeferenced raster (no bands or no coordinate system)");
    }
    const std::string attribution = metadataAttribution(ds);
    auto source = std::unique_ptr<RasterSource>(
        new RasterSource(connection, shores, expanded(std::move(opened).value()), identity));
    source->attribution_ = attribution;
    return source;
}

common::Result<RasterSource::Lease> RasterSource::acquire() const
{
    const std::string identity = fileIdentity(connection_);
    std::vector<Idle> outdated; // closed once the lock is let go
    {
        const std::lock_guard lock(mutex_);
        while (!idle_.empty()) {
            Idle idle = std::move(idle_.back());
            idle_.pop_back();
            if (idle.identity == identity) {
                return Lease(*this, std::move(idle.dataset), identity);
            }
            outdated.push_back(std::move(idle));
        }
    }
    auto opened = gdal::openRaster(connection_);
    if (!opened) {
        return common::Error{common::ErrorKind::Permanent, "the map source " + opened.error().text,
                             500};
    }
    // A file replaced while it was being opened is opened again by the next picture.
    const std::string after = fileIdentity(connection_);
    return Lease(*this, expanded(std::move(opened).value()), after == identity ? identity : "?");
}

RasterSource::Lease::~Lease()
{
    if (!dataset_) {
        return; // moved from
    }
    {
        const std::lock_guard lock(owner_->mutex_);
        owner_->idle_.push_back({std::move(dataset_), identity_});
    }
}

Freshness RasterSource::freshness(const MapRequest& /*request*/, const Gathered* /*gathered*/) const
{
    Freshness fresh("file " + connection_);
    fresh.drawnFrom = fileIdentity(connection_);
    struct stat status {};
    if (::stat(connection_.c_str(), &status) == 0) {
        fresh.lastModified = status.st_mtime;
    }
    return fresh;
}

common::Result<Picture> RasterSource::draw(const MapRequest& asked, const Halt& halt) const
{
    MapRequest request = asked;
    if (request.attribution.empty()) {
        request.attribution = attribution_;
    }
    const Geometry g(request);
    auto base = drawn_.draw(request, halt);
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
    std::string drawnFrom;
    if (g.lonAt(g.width) - g.lonAt(0) <= 360 * maxWorldsAcross) {
        auto lease = acquire();
        if (!lease) {
            return lease.error();
        }
        drawnFrom = lease->identity();
        if (auto laid = overlayRaster(lease->handle(), "AUTO", g, legendBox(g, request), 0,
                                      g.height, out, halt);
            !laid) {
            if (halted(halt)) {
                return haltedError();
            }
            return common::Error{
                common::ErrorKind::Permanent,
                "the map source " + connection_ + " cannot be read: " + laid.error().text, 500};
        }
    }
    Picture picture = quantize(out, halt);
    if (halted(halt)) {
        return haltedError();
    }
    picture.credit = request.attribution; // the raster's own; none when it names none
    picture.drawnFrom = drawnFrom;
    return picture;
}

} // namespace mapservice
