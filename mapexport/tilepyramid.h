#pragma once

// A mosaic cut into the tiles of the Web Mercator grid that map apps read, at every zoom from
// the mosaic's own resolution to one covering tile, on both sides of 180 degrees.
#include "common/result.h"
#include "mapexport/mosaic.h"
#include "mapexport/tileencoding.h"

#include <cpl_progress.h>
#include <gdal.h>

#include <cstdint>

namespace mapexport {

// Where a mosaic lies on the grid and the zoom levels it is cut at.
struct PyramidPlan {
    int minZoom = 0; // the finest zoom at which one tile covers the whole mosaic
    int maxZoom = 0; // the coarsest whose pixels are no larger than the mosaic's
    // The mosaic's bounds in degrees, longitudes within -180..180, west < east: across 180
    // degrees every longitude, from -180 to 180.
    common::GeoBox bounds;
    double centreLongitude = 0; // the mosaic's middle, within -180..180, across 180 too
    // The tiles of the finest zoom that the mosaic reaches into (inclusive): every column of
    // the grid across 180 degrees, where a container without wrapping must hold both sides.
    std::int64_t firstColumn = 0, lastColumn = 0, firstRow = 0, lastRow = 0;
};

// The finest zoom cut: GDAL's GeoPackage driver counts the grid's pixels in 32 bits, which
// zoom 23 passes.
constexpr int finestTileZoom = 22;

PyramidPlan planPyramid(const Mosaic& mosaic);

// What writePyramid gave: how many tiles, and the format they are all in (Auto's choice).
struct PyramidWritten {
    std::int64_t tiles = 0;
    TileFormat format = TileFormat::Png;
};

// Cuts the mosaic's picture (its VRT, see mosaicVrt) into the tiles of |plan| and gives every
// tile that is not wholly transparent to |sink|, encoded as |format| asks. The finest tiles are
// warped from the mosaic by GDAL, a block of 8 x 8 at a time, in an order that keeps the tiles read
// near each other, on as many threads as there are cores (see blockwarper.h); each coarser tile
// is the average of the four beneath it. |progress| is called as
// GDAL's tools call it; when it answers FALSE the cutting stops with an error. What was given, or
// the first error.
common::Result<PyramidWritten> writePyramid(const Mosaic& mosaic, const PyramidPlan& plan,
                                            TileSink& sink, TileFormat format = TileFormat::Png,
                                            GDALProgressFunc progress = nullptr,
                                            void* progressData = nullptr);

} // namespace mapexport
