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

Wanted within(const Wanted& wanted, int seconds, const Clock& clock)
{
    Wanted w = wanted;
    w.clock = &clock;
    w.deadline = std::min(w.deadline, clock.steady() + std::chrono::seconds(seconds));
    return w;
}

// The picture in colours: the drawn map, on which the upstream's pictures are laid.
common::Result<RgbImage> drawnColours(const DrawnSource& drawn, const MapRequest& request,
                                      const Halt& halt)
{
    auto base = drawn.draw(request, halt);
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

common::Result<Picture> finish(const MapRequest& request, RgbImage& out, const Halt& halt)
{
    Picture picture = quantize(out, halt);
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
                                                   const Gathered* gathered, const Halt& halt) const
{
    // The picture's time-out counts while it is drawn too.
    const Halt stop = [gathered, &halt] {
        return (gathered != nullptr && gathered->late()) || halted(halt);
    };
    auto out = drawnColours(drawn_, request, stop);
    if (!out) {
        return halted(stop) ? lateError(upstream_.host()) : out.error();
    }
    const Geometry g(request);
    if (gathered != nullptr) {
        if (halted(stop)) {
            return lateError(upstream_.host());
        }
        if (auto laid = gathered->lay(upstream_.host(), g, legendBox(g, request), *out, stop);
            !laid) {
            return laid.error();
        }
    }
    auto picture = finish(request, *out, stop);
    if (halted(stop)) {
        return lateError(upstream_.host());
    }
    return picture;
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

} // namespace mapservice
