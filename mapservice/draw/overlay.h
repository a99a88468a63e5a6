#pragma once

#include "common/gdal.h"
#include "common/result.h"
#include "mapservice/draw/halt.h"
#include "mapservice/draw/image.h"
#include "mapservice/draw/render.h"
#include "mapservice/protocol/geometry.h"

#include <functional>
#include <string>

namespace mapservice {

// Laying a georeferenced raster over a drawn picture: GDAL warps it into the picture's own plate
// carree grid, once per world copy the picture shows, in strips of rows so that a large picture
// never holds its raster twice. Where the raster has no data (alpha 0) the drawn map shows
// through, and the legend box stays on top.

// The colour bands of a dataset: 1 (grey), 3 (red, green, blue), or 0 when it has no bands.
int colourBands(GDALDatasetH ds);

// Warps |source| (colour bands, then alpha where it has one) over rows |top| to |bottom| of
// |out|, from overview |overview| ("AUTO", "NONE" or a number). The error gives GDAL's reason,
// or is a time-out (504) once |halt| says so, between two strips or within GDAL's warp.
common::Status overlayRaster(GDALDatasetH source, const std::string& overview, const Geometry& g,
                             const Legend& legend, int top, int bottom, RgbImage& out,
                             const Halt& halt = {});

} // namespace mapservice
