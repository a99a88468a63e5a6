#pragma once

// The documents that tell map programs what the service serves: TileJSON for each map code,
// one WMTS capabilities document for all, and the list the map page reads.
#include "mapservice/sources/source.h"

#include <string>
#include <string_view>
#include <vector>

namespace mapservice {

// |text| as a JSON string, quotes included.
std::string jsonString(std::string_view text);
// |text| with XML's special characters escaped.
std::string xmlText(std::string_view text);

// TileJSON 3.0 of |layer|, its tiles at |base| (an address without a trailing '/').
std::string tileJson(const MapLayer& layer, const std::string& base);

// WMTS 1.0.0 capabilities: a layer per map code in the GoogleMapsCompatible tile matrix set,
// with a RESTful ResourceURL and KVP GetTile at |base|.
std::string wmtsCapabilities(const std::vector<MapLayer>& layers, const std::string& base);

// The map codes as the page lists them: code, title, credit and finest zoom.
std::string layersJson(const std::vector<MapLayer>& layers);

} // namespace mapservice
