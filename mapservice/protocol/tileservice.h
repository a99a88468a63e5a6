#pragma once

// What a tile service in a grid of its own says about itself: a WMTS's capabilities document,
// a tiled map service's description in JSON. Read into the grid and the URL of its tiles.
#include "common/result.h"
#include "mapservice/protocol/sourceparams.h"
#include "mapservice/protocol/tilematrix.h"

#include <cstdint>
#include <string>
#include <vector>

namespace mapservice {

struct TileService {
    TileGrid grid;
    // With {TileMatrix}, {TileRow} and {TileCol}; the rest is filled in.
    std::string tileUrl;
    bool escapeIds = false; // a matrix's name goes into a query: percent-encoded
    // What was taken by default where the description offers several (a format, a tile matrix
    // set) or read otherwise than it is written, to be said once.
    std::vector<std::string> notes;
};

// The URL of tile |col|, |row| of |matrix|.
std::string serviceTileUrl(const TileService& service, const TileMatrix& matrix, std::int64_t col,
                           std::int64_t row);

// A WMTS capabilities document |xml|, fetched from |capabilitiesUrl|: the layer, tile matrix
// set, style and format that |spec|'s #layer=, #tilematrixset=, #style= and #format= name, or
// the only one offered (the default style); of several formats PNG, else JPEG, else the first;
// of several tile matrix sets the first in Web Mercator, else the first. Corners are read in
// the axis order their CRS declares unless the layer's WGS84BoundingBox shows the other. RESTful
// tile URLs where the layer has them, else KVP GetTile with the capabilities' own query
// parameters that GetTile does not set (a key), on the same host. Tile addresses are at most
// maxUrlBytes and go to the capabilities' own host, or one that #hosts= lists. The error says
// what is wrong in one line, listing the choices where one is missing.
common::Result<TileService> readWmtsCapabilities(const std::string& xml,
                                                 const std::string& capabilitiesUrl,
                                                 const SourceParams& spec);

// Whether |text| looks like a WMTS capabilities document: what may be kept of an answer.
bool isWmtsCapabilities(const std::string& text);

// A tiled map service's description (its URL with ?f=json) |json|, the service at |serviceUrl|
// (ending in /MapServer or /ImageServer): its tileInfo (origin, levels, tile size, spatial
// reference by latestWkid or wkid, 102100 being 3857) and fullExtent; tiles at
// /tile/{level}/{row}/{col}.
common::Result<TileService> readArcgisService(const std::string& json,
                                              const std::string& serviceUrl);

// Whether |text| looks like a map service's description, tiled or not (a JSON object that is no
// error report): an untiled one is refused by readArcgisService with a word on its WMS.
bool isArcgisService(const std::string& text);

// "%"-encodes what a query value may not hold as it is.
std::string percentEncoded(const std::string& text);

} // namespace mapservice
