#pragma once

#include "mapservice/draw/image.h"
#include "mapservice/protocol/geometry.h"

namespace mapservice {

// Draws the graticule that graticuleFor() chooses, with labels: the fine lines first, then the
// major ones over them.
void drawGraticule(IndexedImage& image, const Geometry& g);

} // namespace mapservice
