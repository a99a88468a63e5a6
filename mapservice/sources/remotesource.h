#pragma once

#include "mapservice/draw/image.h"
#include "mapservice/draw/render.h"
#include "mapservice/network/tilecache.h"
#include "mapservice/network/upstream.h"
#include "mapservice/protocol/tilegrid.h"
#include "mapservice/sources/drawnsource.h"
#include "mapservice/sources/source.h"

#include <atomic>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace mapservice {

// What the remote sources share: where upstream answers are cached and how much it may hold,
// the finest tile zoom asked for, how the service introduces itself, how long a picture waits
// for its upstream answers and how large one may be.
struct RemoteOptions {
    std::string cacheFolder;
    int maxZoom = 19;
    std::string userAgent;
    int cacheMaxMegabytes = 2048;
    int timeoutSeconds = 30;
    int maxTileMegabytes = 16;
    // Pictures that may wait at once for one source's upstream answers (they hold no drawing
    // slot meanwhile); past them that source's pictures are answered 503 at once, and no other
    // source's.
    int waitingPerSource = 64;
    // Transfers under way at once to all upstream hosts together.
    int transfersInAll = 64;
    // The loop of the remote sources' network: the service's, which serves its clients too.
    // Needed once a remote source is added.
    boost::asio::io_context* loop = nullptr;
    // The time of the network, the cache and the deadlines.
    const Clock* clock = &realClock();
};

// The upstream servers of all remote sources, one per host and port, their cache and the
// network they are asked through.
class Upstreams {
public:
    explicit Upstreams(const RemoteOptions& options);
    // The one of |url|'s host and port; made on first use (while the sources are set up). A
    // host with {s} in its name is one, whatever the subdomain.
    Upstream& of(const std::string& url);
    const RemoteOptions& options() const { return options_; }
    Network& network() { return network_; }

private:
    RemoteOptions options_;
    TileCache cache_;
    Network network_;
    std::map<std::string, std::unique_ptr<Upstream>> byHost_;
};

// How long an upstream answer is kept before it is fetched again.
constexpr std::time_t upstreamAnswerKept = std::time_t{7} * 24 * 3600;
// How long a client may keep a remote source's picture that shows no upstream tile.
constexpr std::int64_t emptyPictureKept = 60;

// A short name for |text| that stays the same from run to run: the cache's folder of a source,
// the file of a WMS block.
std::string hexHash(const std::string& text);

// A picture that its sources and its drawing together took longer than the time-out for.
common::Error lateError(const std::string& host);

// What the remote sources share: the drawn map under the upstream's answers, the upstream of
// the URL's host, the source's folder in the cache. A picture is drawn from what gather
// fetched, which lays itself over the drawn map.
class RemoteSource : public Source {
public:
    common::Result<Picture> drawGathered(const MapRequest& request, const Gathered* gathered,
                                         const Halt& halt) const override;
    // Identified by the source and the validators of the upstream answers it drew from; fresh
    // as long as all of them stay in the cache.
    Freshness freshness(const MapRequest& request, const Gathered* gathered) const override;

protected:
    // |cacheName| names the source in the cache; its host is |url|'s.
    RemoteSource(const std::string& cacheName, const std::string& url, Upstreams& upstreams,
                 const ShoreData& shores, Manners manners = {});
    // |wanted|, ending at the latest when the upstream timeout has passed from now.
    Wanted withinTimeout(const Wanted& wanted) const;
    // |done| holding one of the source's places for waiting pictures until it is called; or
    // nothing, |done| having been answered 503, when every place is taken.
    std::optional<Gathering> takePlace(Gathering done) const;

    const std::string keyPrefix_; // the source's folder in the cache
    const std::shared_ptr<const Manners> manners_;
    Upstream& upstream_;
    const RemoteOptions options_;
    DrawnSource drawn_;
    const std::shared_ptr<std::atomic<int>> waiting_ = std::make_shared<std::atomic<int>>(0);
};

} // namespace mapservice
