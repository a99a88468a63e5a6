#pragma once

// The tiles a picture needs from a tile server, on the grid of common/webmercator.h.
#include "common/result.h"
#include "common/webmercator.h"
#include "mapservice/protocol/geometry.h"
#include "mapservice/protocol/sourceparams.h"

#include <cstdint>
#include <string>
#include <vector>

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

// A tile server's URL template: {z}, {x} and {y} (or {-y}, rows counted from the south), or {q}
// (the quadkey); {s}, one of |subdomains|; {r}, "@2x" for tiles of 512 pixels, else nothing.
struct XyzTemplate {
    std::string url;
    std::vector<std::string> subdomains;
    int tileSize = tilePixels;
};

// The template of an "xyz:" spec (|tms|: a "tms:" spec, its URL taking "/{z}/{x}/{-y}.png"),
// with its #subdomains= ("abc" or "t1,t2") and #tilesize= (256 or 512); or why it is none.
common::Result<XyzTemplate> xyzTemplate(const SourceParams& spec, bool tms);

// The zoom of |t|'s tiles for a picture of |degreesPerPixel|: the coarsest whose pixels are no
// larger, at most |finestZoom|.
int templateZoomFor(const XyzTemplate& t, double degreesPerPixel, int finestZoom);

// The quadkey of a tile: one digit a zoom level, from the coarsest.
std::string quadkey(int zoom, std::int64_t x, std::int64_t y);

// |t|'s URL of a tile. The subdomain follows from the tile's numbers, so that a tile always
// comes from the same host.
std::string tileUrl(const XyzTemplate& t, int zoom, std::int64_t x, std::int64_t y);

} // namespace mapservice
