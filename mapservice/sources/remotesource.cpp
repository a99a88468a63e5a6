#include "mapservice/sources/remotesource.h"

#include "common/gdal.h"
#include "common/redirect.h"
#include "mapservice/draw/drawing.h"
#include "mapservice/draw/overlay.h"
#include "mapservice/draw/quantize.h"
#include "mapservice/network/upstreampixels.h"
#include "mapservice/protocol/geometry.h"
#include "mapservice/protocol/tilegrid.h"
#include "mapservice/sources/collector.h"

#include <ogr_srs_api.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <curl/curl.h>
#include <filesystem>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace mapservice {

namespace {

namespace gdal = common::gdal;

// The most a band of tiles laid out for the warper may hold.
constexpr std::int64_t mosaicBudget = std::int64_t{48} << 20;
// How many zoom levels coarser a missing tile is looked for.
constexpr int parentLevels = 8;

Wanted within(const Wanted& wanted, int seconds, const Clock& clock)
{
    Wanted w = wanted;
    w.clock = &clock;
    w.deadline = std::min(w.deadline, clock.steady() + std::chrono::seconds(seconds));
    return w;
}

// The picture in colours: the drawn map, on which the upstream's pictures are laid.
common::Result<RgbImage> drawnColours(const DrawnSource& drawn, const MapRequest& request)
{
    auto base = drawn.draw(request);
    if (!base) {
        return base.error();
    }
    const Picture& picture = *base;
    RgbImage out(picture.image.width, picture.image.height, {0, 0, 0});
    for (std::size_t i = 0; i < out.pixels.size(); ++i) {
        out.pixels[i] = picture.palette[picture.image.pixels[i]];
    }
    return out;
}

// The tiles a picture needs, by "z/x/y".
struct TileSet : FetchedFiles {
    TileRange range;
    int tileSize = tilePixels;
    common::Status lay(const std::string& host, const Geometry& g, const Legend& legend,
                       RgbImage& out) const override;
};

std::string tileName(int zoom, std::int64_t x, std::int64_t y)
{
    return std::to_string(zoom) + "/" + std::to_string(x) + "/" + std::to_string(y);
}

// Lays the tiles of |set| over |out|, in bands of tile rows that each fit the budget: Web
// Mercator centred on the picture, so that across 180 degrees the tiles run on unbroken.
common::Status layTiles(const TileSet& set, const std::string& host, const Geometry& g,
                        const Legend& legend, RgbImage& out)
{
    const TileRange& r = set.range;
    const int z = r.zoom;
    const int side = set.tileSize;
    const double tileMetres = 2 * common::mercator::halfWorldMetres / std::ldexp(1.0, z);
    const std::int64_t rowBytes = r.columns() * side * side * 4;
    const std::int64_t band = std::max<std::int64_t>(1, mosaicBudget / rowBytes - 2);
    const double centre = g.centre.longitude - 360.0 * std::round(g.centre.longitude / 360.0);
    char proj4[200];
    std::snprintf(proj4, sizeof proj4,
                  "+proj=merc +a=6378137 +b=6378137 +lat_ts=0 +lon_0=%.12f +x_0=0 +y_0=0 +k=1 "
                  "+units=m +nadgrids=@null +wktext +no_defs",
                  centre);
    const SpatialReference mercator(proj4);
    const auto width = static_cast<int>(r.columns() * side);
    for (std::int64_t first = r.north; first <= r.south; first += band) {
        const std::int64_t last = std::min(r.south, first + band - 1);
        const std::int64_t top = std::max(r.north, first - 1);   // a row more each side, for
        const std::int64_t bottom = std::min(r.south, last + 1); // resampling at the edges
        const std::array<double, 6> transform{
            (static_cast<double>(r.west) * tileMetres - common::mercator::halfWorldMetres) -
                g.centre.longitude * common::mercator::halfWorldMetres / 180.0,
            tileMetres / side,
            0,
            common::mercator::halfWorldMetres - static_cast<double>(top) * tileMetres,
            0,
            -tileMetres / side};
        const gdal::Dataset mosaic = rgbaDataset(width, static_cast<int>((bottom - top + 1) * side),
                                                 transform, mercator.get());
        if (!mosaic) {
            return common::permanent("cannot make room for the upstream tiles", 500);
        }
        std::optional<common::Error> failed;
        for (std::int64_t y = top; y <= bottom; ++y) {
            if (set.late()) {
                return lateError(host);
            }
            for (std::int64_t x = r.west; x <= r.east; ++x) {
                const std::int64_t column = wrapColumn(x, z);
                for (int level = 0; level <= parentLevels && level <= z; ++level) {
                    const auto found =
                        set.files.find(tileName(z - level, column >> level, y >> level));
                    if (found == set.files.end()) {
                        continue;
                    }
                    const std::int64_t part = (std::int64_t{1} << level) - 1;
                    auto rgba = decodeRgba(found->second, level, column & part, y & part, side,
                                           side, "upstream " + host + ": tile " + found->first);
                    if (!rgba) {
                        // The rest are still decoded, so that every damaged tile leaves the
                        // cache now, not one a picture.
                        failed = failed ? failed : std::optional(rgba.error());
                        break;
                    }
                    if (auto laid =
                            writeRgba(gdal::handle(mosaic), static_cast<int>((x - r.west) * side),
                                      static_cast<int>((y - top) * side), side, side, *rgba);
                        !laid) {
                        return laid;
                    }
                    break;
                }
            }
        }
        if (failed) {
            return *failed;
        }
        const auto pictureRow = [&](std::int64_t row) {
            return std::clamp(
                static_cast<int>(std::ceil(std::clamp(
                    g.y(rowLatitude(static_cast<double>(row), z)) - 0.5, -1.0, g.height + 1.0))),
                0, g.height);
        };
        const int from = first == r.north ? 0 : pictureRow(first);
        const int to = last == r.south ? g.height : pictureRow(last + 1);
        if (auto laid = overlayRaster(gdal::handle(mosaic), "NONE", g, legend, from, to, out,
                                      [&set] { return set.late(); });
            !laid) {
            return laid.error().kind == common::ErrorKind::TimedOut
                       ? lateError(host)
                       : common::permanent("cannot warp the upstream tiles: " + laid.error().text,
                                           500);
        }
    }
    return {};
}

common::Status TileSet::lay(const std::string& host, const Geometry& g, const Legend& legend,
                            RgbImage& out) const
{
    return range.empty() ? common::Status() : layTiles(*this, host, g, legend, out);
}

common::Result<Picture> finish(const MapRequest& request, RgbImage& out)
{
    Picture picture = quantize(out);
    picture.credit = request.attribution;
    return picture;
}

} // namespace

common::Error lateError(const std::string& host)
{
    return common::timedOut(
        "upstream " + host + ": the picture was not fetched and drawn within the time-out", 504);
}

std::string hexHash(const std::string& text)
{
    std::uint64_t hash = 14695981039346656037ULL; // FNV-1a
    for (const unsigned char c : text) {
        hash = (hash ^ c) * 1099511628211ULL;
    }
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    return hex;
}

Upstreams::Upstreams(const RemoteOptions& options)
    : options_((gdal::setUp({{"GDAL_CACHEMAX", "64"}}), options)),
      cache_(
          options.cacheFolder.empty()
              ? (std::filesystem::temp_directory_path() / "mapservice-cache").native()
              : options.cacheFolder,
          // A picture's tiles stay while it is drawn: it holds their pins.
          TileCache::Limits{.maxBytes = static_cast<std::uint64_t>(options.cacheMaxMegabytes) << 20,
                            .maxAge = upstreamAnswerKept,
                            .clock = options.clock}),
      network_({options.userAgent, static_cast<std::int64_t>(options.maxTileMegabytes) << 20, 2,
                upstreamAnswerKept, options.transfersInAll, options.clock},
               cache_, *options.loop)
{}

Upstream& Upstreams::of(const std::string& url)
{
    const std::string marker = "subdomain--";
    std::string host = common::authorityOf(url.substr(0, url.find("{s}")) + marker +
                                           url.substr(std::min(url.find("{s}") + 3, url.size())));
    if (url.find("{s}") == std::string::npos) {
        host = common::authorityOf(url);
    } else if (const std::size_t at = host.find(marker); at != std::string::npos) {
        host.replace(at, marker.size(), "{s}");
    }
    auto& upstream = byHost_[host];
    if (!upstream) {
        upstream = std::make_unique<Upstream>(host, network_);
    }
    return *upstream;
}

RemoteSource::RemoteSource(const std::string& cacheName, const std::string& url,
                           Upstreams& upstreams, const ShoreData& shores, Manners manners)
    : keyPrefix_(hexHash(cacheName)), manners_(std::make_shared<const Manners>(std::move(manners))),
      upstream_(upstreams.of(url)), options_(upstreams.options()), drawn_(shores)
{}

Wanted RemoteSource::withinTimeout(const Wanted& wanted) const
{
    return within(wanted, options_.timeoutSeconds, upstream_.network().clock());
}

std::optional<Gathering> RemoteSource::takePlace(Gathering done) const
{
    if (waiting_->fetch_add(1) >= options_.waitingPerSource) {
        waiting_->fetch_sub(1);
        done(common::passing("busy: too many pictures wait for this map's source", 503));
        return std::nullopt;
    }
    return [waiting = waiting_, done = std::move(done)](common::Result<GatheredPtr> gathered) {
        waiting->fetch_sub(1);
        done(std::move(gathered));
    };
}

common::Result<Picture> RemoteSource::drawGathered(const MapRequest& request,
                                                   const Gathered* gathered) const
{
    auto out = drawnColours(drawn_, request);
    if (!out) {
        return out.error();
    }
    const Geometry g(request);
    if (gathered != nullptr) {
        if (gathered->late()) {
            return lateError(upstream_.host());
        }
        if (auto laid = gathered->lay(upstream_.host(), g, legendBox(g, request), *out); !laid) {
            return laid.error();
        }
    }
    return finish(request, *out);
}

Freshness RemoteSource::freshness(const MapRequest& /*request*/, const Gathered* gathered) const
{
    Freshness fresh("remote " + keyPrefix_);
    const std::time_t now = upstream_.network().clock().wall();
    const std::vector<std::string> files =
        gathered != nullptr ? gathered->fetchedFiles() : std::vector<std::string>{};
    if (files.empty()) {
        // Only the drawn map: the upstream had nothing here, or was not asked. That may change
        // soon (a server that was down, tiles not made yet).
        fresh.maxAgeSeconds = emptyPictureKept;
    } else {
        fresh.maxAgeSeconds = upstreamAnswerKept;
    }
    bool everyModified = true;
    for (const std::string& file : files) {
        struct stat status {};
        if (::stat(file.c_str(), &status) != 0) {
            continue; // gone since: the next picture fetches it again
        }
        fresh.identity += " " + std::to_string(status.st_size) + "@" +
                          std::to_string(status.st_mtim.tv_sec) + "." +
                          std::to_string(status.st_mtim.tv_nsec);
        // Until the upstream's record says it expires, or a week from its fetch without one.
        const auto record = TileCache::recordOf(file);
        const std::time_t expires = !record              ? status.st_mtime + upstreamAnswerKept
                                    : record->revalidate ? now
                                                         : record->expires;
        fresh.maxAgeSeconds = std::clamp<std::int64_t>(expires - now, 0, fresh.maxAgeSeconds);
        // The picture changed last when the newest of its tiles did, where all of them say.
        const std::time_t modified = record && !record->lastModified.empty()
                                         ? curl_getdate(record->lastModified.c_str(), nullptr)
                                         : -1;
        if (modified < 0 || !everyModified) {
            everyModified = false;
            fresh.lastModified.reset();
        } else {
            fresh.lastModified = std::max(fresh.lastModified.value_or(modified), modified);
        }
    }
    return fresh;
}

namespace {

void askTile(const std::shared_ptr<Collector>& collector, const XyzTemplate& tiles, int zoom,
             std::int64_t x, std::int64_t y, int level)
{
    const std::string name = tileName(zoom, x, y);
    std::function<void()> ifMissing;
    if (level < parentLevels && zoom > 0) {
        ifMissing = [collector, tiles, zoom, x, y, level] {
            askTile(collector, tiles, zoom - 1, x / 2, y / 2, level + 1);
        };
    }
    collector->ask(name, tileUrl(tiles, zoom, x, y), "tile " + name,
                   {tiles.tileSize, tiles.tileSize}, std::move(ifMissing));
}

} // namespace

void XyzSource::gather(const MapRequest& request, const Wanted& wanted, Gathering asked) const
{
    auto done = takePlace(std::move(asked));
    if (!done) {
        return;
    }
    const Geometry g(request);
    TileRange range;
    if (g.lonAt(g.width) - g.lonAt(0) <= 360 * maxWorldsAcross) {
        range = coveringTiles(g, templateZoomFor(tiles_, g.degreesPerPixel, request.maxZoom));
    }
    auto collector = std::make_shared<Collector>(
        upstream_, keyPrefix_, withinTimeout(wanted), std::move(*done),
        [range, size = tiles_.tileSize](Collector::Files files) {
            auto set = std::make_shared<TileSet>();
            set->range = range;
            set->tileSize = size;
            set->files = std::move(files);
            return set;
        },
        manners_);
    for (std::int64_t y = range.north; y <= range.south; ++y) {
        for (std::int64_t x = range.west; x <= range.east; ++x) {
            askTile(collector, tiles_, range.zoom, wrapColumn(x, range.zoom), y, 0);
        }
    }
    collector->started();
}

} // namespace mapservice
