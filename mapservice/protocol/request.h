#pragma once

#include "common/result.h"
#include "common/tilegeometry.h"

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace mapservice {

// One map picture as the service is asked for it. Angles in decimal degrees.
struct MapRequest {
    // Latitude -90..90, longitude any value: the world repeats every 360 degrees.
    common::Centre centre;
    double zoom = 0; // "Alti": an image 1999 pixels wide spans zoom / 45 degrees
    int width = 0;   // pixels, 1..4000
    int height = 0;
    std::string mapcode; // "Lang"; chooses the palette
    // The legend's credit line for the source (set by the service, never by the client).
    std::string attribution;
    // Whether the picture carries its legend box (set by the service).
    bool legend = true;
    // The finest zoom asked of a tile server (set by the service).
    int maxZoom = 19;
    // A picture to be warped into a map tile: no legend box, whatever the map code's settings
    // (set by the service).
    bool bare = false;
};

constexpr int maxSide = 4000;

// The keys of a query string ("a=1&b=2"), percent-decoded; the first value of a key wins.
std::map<std::string, std::string> parseQuery(std::string_view query);

// A plain decimal number, blanks around it allowed; nothing else ("1e3" is fine, "12abc" not).
std::optional<double> parseNumber(std::string_view text);

// The path and query of a request target: the target itself in origin form ("/pub/...?..."),
// the part after the authority in absolute form ("http://host:port/pub/...?..."), which a
// server must accept too.
std::string_view originForm(std::string_view target);

// Whether a Transfer-Encoding field's last coding is "chunked" (any case, blanks and empty
// list elements ignored). A request whose body is framed any other way cannot be delimited.
bool lastCodingIsChunked(std::string_view transferEncoding);

// The largest longitude a request may name, east or west: any value within it is a place on
// the earth, and every pixel position derived from it stays far inside an int.
constexpr double maxLongitude = 1e6;

// The request the query keys ask for, or why it cannot be served (bad input, status 400).
common::Result<MapRequest> parseMapRequest(const std::map<std::string, std::string>& keys);

} // namespace mapservice
