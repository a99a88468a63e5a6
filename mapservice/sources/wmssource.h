#pragma once

#include "common/geobox.h"
#include "mapservice/sources/remotesource.h"

#include <string>
#include <vector>

namespace mapservice {

// The WMS requests that cover a picture: for each world copy it shows, the part within
// -180..180 degrees and -90..90, in blocks of at most |most| pixels a side.
struct WmsBlock {
    common::GeoBox box;
    int width, height;
    int piece;     // which part of the picture the block belongs to
    int left, top; // where in its part, in pixels
};
struct WmsPiece {
    common::GeoBox box;
    int width, height;
};
struct WmsPlan {
    std::vector<WmsPiece> pieces;
    std::vector<WmsBlock> blocks;
};
// |mercator|: the blocks are asked for in Web Mercator, so that their rows are evenly spaced in
// metres, not in degrees, and they stop at the projection's latitude limit.
WmsPlan wmsPlan(const Geometry& g, int most = 1024, bool mercator = false);

// How a WMS endpoint is asked, from what its URL says: WMS 1.3.0 when it names VERSION=1.3.0
// (else 1.1.1); in Web Mercator when it also names CRS=EPSG:3857 (else in geographic
// coordinates, which 1.3.0 gives latitude first).
struct WmsDialect {
    bool version130 = false;
    bool mercator = false;
};
WmsDialect wmsDialect(const std::string& url);

// The GetMap URL of |block| for the endpoint |url| (which names LAYERS and may name STYLES,
// FORMAT and anything else the server wants), in |url|'s dialect.
std::string getMapUrl(const std::string& url, const WmsBlock& block);

// A WMS GetMap endpoint ("wms:URL", URL naming LAYERS): each picture asks for its own box in
// geographic coordinates (or Web Mercator, see WmsDialect), in blocks of at most 1024 pixels,
// split at 180 degrees. As for tiles, 404 and 204 leave the drawn map showing through; an
// exception report fails the picture with the server's words.
class WmsSource : public RemoteSource {
public:
    WmsSource(std::string url, Upstreams& upstreams, const ShoreData& shores, Manners manners = {})
        : RemoteSource(url, url, upstreams, shores, std::move(manners)), url_(std::move(url))
    {}
    void gather(const MapRequest& request, const Wanted& wanted, Gathering done) const override;

private:
    const std::string url_;
};

} // namespace mapservice
