#pragma once

#include "mapservice/geometry.h"
#include "mapservice/image.h"

namespace mapservice {

// Draws the graticule that graticuleFor() chooses, with labels: the fine lines first, then the
// major ones over them.
void drawGraticule(IndexedImage& image, const Geometry& g);

} // namespace mapservice
