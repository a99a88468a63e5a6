#pragma once

// What the service does with a request's path: an answer at once (documents, the map page, a
// refusal), or a picture to gather and draw (a map picture, a tile).
#include "mapservice/draw/halt.h"
#include "mapservice/http/answer.h"
#include "mapservice/sources/source.h"

#include <functional>
#include <string>
#include <string_view>
#include <variant>

namespace mapservice {

// A picture to gather on the loop and draw on a drawing thread.
struct DrawingJob {
    MapRequest request; // what the source gathers and draws
    // What tells the job's answers apart beyond the request, for their ETags: "" for a map
    // picture, the size and format of a tile.
    std::string variant;
    // Gathers what it needs otherwise than the request's picture (a tile passed through); on the
    // loop. Empty: the source gathers the request.
    std::function<void(const Source&, const Wanted&, Gathering)> gather;
    // Draws the answer from what was gathered; on a drawing thread.
    std::function<Answer(const Source&, const MapRequest&, const Gathered*, const Halt&)> draw;
};

// Where the service's documents point, and where the page's library lies.
struct Site {
    // The address clients reach the service at ("https://maps.example.org"); empty: the one each
    // request's Host header names.
    std::string publicUrl;
    std::string leafletFolder = MAPSERVICE_LEAFLET_DIR;
};

using Routed = std::variant<Answer, DrawingJob>;

// The answer to, or the picture of, a GET of |path| (no query) with |query|, whose Host header
// is |host|.
Routed route(const Source& source, const Site& site, std::string_view path, std::string_view query,
             std::string_view host);

} // namespace mapservice
