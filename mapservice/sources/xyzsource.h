#pragma once

#include "mapservice/protocol/tilegrid.h"
#include "mapservice/sources/remotesource.h"

#include <string>

namespace mapservice {

// A slippy-map tile server ("xyz:URL" or "tms:URL", see XyzTemplate): each picture takes the
// tiles of the coarsest zoom whose pixels are no larger than its own (at most the request's
// maxZoom), plus one ring, on both sides of 180 degrees. A tile of another size than the
// template's is refused. A tile the server does not have (404,
// 204) is taken from its parent tiles, up to 8 zoom levels coarser, enlarged; where none has
// it the drawn map shows through. A picture fails only when a tile fails with a server or
// network error (502) or not in time (504).
class XyzSource : public RemoteSource {
public:
    // |cacheName| names the source in the cache; the subdomains of the template's host count as one
    // host against the connection limit.
    XyzSource(const std::string& cacheName, XyzTemplate tiles, Upstreams& upstreams,
              const ShoreData& shores, Manners manners = {})
        : RemoteSource(cacheName, tiles.url, upstreams, shores, std::move(manners)),
          tiles_(std::move(tiles))
    {}
    void gather(const MapRequest& request, const Wanted& wanted, Gathering done) const override;
    // Tiles of 256 pixels in the format the template's address ends with.
    bool passesTile(const TileAsk& tile) const override;
    void gatherTile(const TileAsk& tile, const Wanted& wanted, Gathering done) const override;

private:
    const XyzTemplate tiles_;
};

} // namespace mapservice
