#pragma once

#include "mapservice/protocol/tileservice.h"
#include "mapservice/sources/remotesource.h"

#include <functional>
#include <memory>
#include <string>

namespace mapservice {

// A tile service in a grid of its own, which a document it serves describes: a WMTS
// ("wmts:URL", URL naming its capabilities) or a tiled map service ("arcgis:URL", URL ending in
// /MapServer). The description is fetched once (at most 8 MB), kept in the cache with the
// tiles and read again from there after an hour; a failure to get or read it is the answer of
// every picture for a minute, so that the server is not asked again sooner.
//
// A picture takes the tiles of the matrix that gridPlan chooses, laid out in the grid's CRS and
// warped into the picture on each side of 180 degrees. A tile the server does not have (404,
// 204, TileOutOfRange) is taken from coarser matrices, up to 8, where each halves into the next
// with the same corner; elsewhere it is left transparent, and the drawn map shows through.
class GridSource : public RemoteSource {
public:
    struct Description {
        std::string url;  // where it is
        std::string kind; // "WMTS capabilities document"
        std::function<bool(const std::string& text)> isOne;
        std::function<common::Result<TileService>(const std::string& text)> read;
    };
    GridSource(const std::string& cacheName, Description description, Upstreams& upstreams,
               const ShoreData& shores, Manners manners = {});
    void gather(const MapRequest& request, const Wanted& wanted, Gathering done) const override;

    struct State;

private:
    void gatherTiles(const std::shared_ptr<const TileService>& service, const MapRequest& request,
                     const Wanted& wanted, Gathering done) const;

    const Description description_;
    const std::shared_ptr<State> state_;
};

} // namespace mapservice
