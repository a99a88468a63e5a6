#pragma once

#include "mapservice/geometry.h"

#include <cstdint>
#include <string>

namespace mapservice {

// The slippy-map tile grid: Web Mercator, 2^z x 2^z tiles of 256 pixels at zoom z, column 0 at
// 180 degrees west, row 0 at the north edge (85.0511 degrees).
constexpr int tilePixels = 256;
constexpr double mercatorLimit = 85.0511287798066; // latitude of the grid's edges

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

// The column of the tile a server holds for column |x| counted on past the grid's edges.
std::int64_t wrapColumn(std::int64_t x, int zoom);

// The row of latitude |lat| (clamped to the grid), fractional.
double tileRow(double lat, int zoom);
// The latitude of the top edge of fractional row |row|.
double rowLatitude(double row, int zoom);

// The tile zoom whose pixels, on the equator as everywhere in longitude, are no larger than
// |degreesPerPixel|, capped by |finestZoom|: no blurry upscaling, no needless finer tiles.
int tileZoomFor(double degreesPerPixel, int finestZoom);

// |url| with {z}, {x} and {y} replaced by a tile's numbers.
std::string tileUrl(const std::string& url, int zoom, std::int64_t x, std::int64_t y);

} // namespace mapservice
