#pragma once

// The tile address of a WMTS layer, read from its capabilities document.
#include "common/result.h"
#include "mapservice/protocol/tileservice.h"

#include <cpl_minixml.h>

#include <string>

namespace mapservice {

// What was chosen of the layer's offer: its identifier, tile matrix set, style and format, and
// the RESTful template of that format, if it has one.
struct WmtsChoice {
    std::string layer, set, style, format;
    std::string restTemplate;
};

// Sets |service|'s tile address (its grid read already) for |choice| of |layer| in the
// capabilities |capabilities| fetched from |capabilitiesUrl|: the template with its dimensions'
// defaults (at most maxDimensionBytes), tile matrix set and style filled in, in one pass, else
// KVP GetTile at the endpoint the capabilities name (with the capabilities' own query parameters
// that GetTile does not set, a key, where it is on the same host). Refused where an address of
// any matrix would be longer than maxUrlBytes or would go to another host than the
// capabilities' own that |hosts| (#hosts=) does not list.
common::Status setTileAddress(TileService& service, const CPLXMLNode* capabilities,
                              const CPLXMLNode* layer, const std::string& capabilitiesUrl,
                              const WmtsChoice& choice, const std::string& hosts);

} // namespace mapservice
