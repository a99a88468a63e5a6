#pragma once

// Tile grids in any coordinate reference system, as WMTS tile matrix sets and tiled map services
// describe them: for each level a top-left corner, a pixel size, a tile size and a number of
// tiles, rows counted down from the top. Plain functions on plain data; GDAL reads the CRS.
#include "common/geobox.h"
#include "common/result.h"
#include "mapservice/protocol/geometry.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace mapservice {

struct TileMatrix {
    std::string id;        // as the server names it in tile requests
    double resolution = 0; // CRS units a pixel
    double left = 0;       // the top-left corner: easting (or longitude)
    double top = 0;        // and northing (or latitude)
    int tileWidth = 256;   // pixels
    int tileHeight = 256;
    std::int64_t matrixWidth = 0; // tiles
    std::int64_t matrixHeight = 0;
    // The tiles the server holds, inclusive; the whole matrix unless the server limits it.
    std::int64_t minCol = 0, maxCol = -1, minRow = 0, maxRow = -1;
};

struct TileGrid {
    std::string crs;                  // as GDAL writes it (WKT)
    std::vector<TileMatrix> matrices; // coarsest first
    // Where the layer has data, in degrees; nothing: wherever the grid reaches.
    std::optional<common::GeoBox> bounds;
};

// The standard pixel of scale denominators, 0.28 mm, and the metres a degree counts for a
// geographic CRS (a degree of the equator on the WGS84 ellipsoid).
constexpr double standardPixelMetres = 0.00028;
constexpr double metresPerDegree = 6378137.0 * 2 * 3.14159265358979323846 / 360.0;

// Why |grid| cannot be used: a number that is not finite or not positive, a matrix of more than
// 2^31 tiles a side; nothing when it is sound. Sorts the matrices coarsest
// first and clamps missing limits to the matrix.
std::optional<std::string> settleGrid(TileGrid& grid);

// The matrix that |matrix| refines by halving its pixels with the same corner and tile size,
// where a missing tile can be taken from; -1 when there is none.
int parentMatrix(const TileGrid& grid, int matrix);

// The tiles of one matrix a part of a picture needs (columns and rows inclusive).
struct GridRange {
    std::int64_t west = 0, east = -1, north = 0, south = -1;
    bool empty() const { return east < west || south < north; }
    std::int64_t tiles() const { return empty() ? 0 : (east - west + 1) * (south - north + 1); }
};
struct GridPlan {
    int matrix = -1; // none when the picture shows nothing of the grid
    std::vector<GridRange> ranges;
    bool inLayer = false; // the picture shows some of the grid's bounds, which it has
};

// Whether matrix |m| of a grid in |crs| (WKT) lies over any of |box| (degrees); nothing when
// GDAL cannot tell, as where the box lies beyond the reach of the CRS.
std::optional<bool> matrixOverBox(const std::string& crs, const TileMatrix& m,
                                  const common::GeoBox& box);

// The matrix and tiles that cover picture |g|: the coarsest matrix (at most |finest|) whose
// pixels are no larger than the picture's there (their geometric mean, at the middle of what it
// shows of the grid), coarser still while the tiles would hold more than |budgetBytes|; for
// each world copy the picture shows, the tiles under its outline (the edges sampled, not only
// the corners, transformed into the grid's CRS) plus one ring, within the matrix's limits and
// the tiles under the grid's bounds. A CRS GDAL cannot read gives an error.
common::Result<GridPlan> gridPlan(const TileGrid& grid, const Geometry& g, int finest,
                                  std::int64_t budgetBytes);

} // namespace mapservice
