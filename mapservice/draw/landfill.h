#pragma once

#include "mapservice/draw/coastlines.h"
#include "mapservice/draw/halt.h"
#include "mapservice/draw/image.h"
#include "mapservice/protocol/geometry.h"

namespace mapservice {

// Fills land and lakes of the bins that |geometry| shows, row by row: each bin row starts
// from the level at its west edge (the south-west corner's level changed by every shoreline
// that ends on the west edge below the row) and changes level at every shoreline it crosses.
// Stops between bins once |halt| says so.
void fillLand(IndexedImage& image, const Geometry& geometry, const Coastlines& shores,
              const Halt& halt = {});

} // namespace mapservice
