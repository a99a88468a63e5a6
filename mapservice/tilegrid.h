#pragma once

// The tiles a picture needs from a tile server, on the grid of common/webmercator.h.
#include "common/webmercator.h"
#include "mapservice/geometry.h"

#include <cstdint>
#include <string>

namespace mapservice {

using common::mercator::mercatorLimit;
using common::mercator::rowLatitude;
using common::mercator::tilePixels;
using common::mercator::tileRow;
using common::mercator::tileZoomFor;
using common::mercator::wrapColumn;

// The tiles covering a picture, plus |ring| tiles all around (bilinear resampling reads past an
// edge). Columns are counted on from the picture's own longitudes, so across 180 degrees they
// run on past 2^z - 1 (wrapColumn gives the tile to ask for); rows stop at the grid's edges.
struct TileRange {
    int zoom = 0;
    std::int64_t west = 0, east = -1;   // columns, inclusive
    std::int64_t north = 0, south = -1; // rows, inclusive
    bool empty() const { return east < west || south < north; }
    std::int64_t columns() const { return empty() ? 0 : east - west + 1; }
    std::int64_t rows() const { return empty() ? 0 : south - north + 1; }
};

// A picture wider than the world takes one world's columns and one more, centred on the picture:
// every longitude is then within 180 degrees of the centre on the tiles.
TileRange coveringTiles(const Geometry& g, int zoom, int ring = 1);

// |url| with {z}, {x} and {y} replaced by a tile's numbers.
std::string tileUrl(const std::string& url, int zoom, std::int64_t x, std::int64_t y);

} // namespace mapservice
