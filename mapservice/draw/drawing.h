#pragma once

#include "mapservice/draw/image.h"
#include "mapservice/protocol/geometry.h"

#include <cstdint>

namespace mapservice {

// Lines, text and margins larger on large pictures, so that they stay visible when shrunk:
// the line width, the text size in pixels to the em, and a unit of margin.
int lineWidth(const Geometry& g);
int textSize(const Geometry& g);
int textScale(const Geometry& g);

// A pixel position as an int, clamped just beyond 0..|limit| so that far-away coordinates of
// extreme zooms neither overflow nor draw.
int toPixel(double value, int limit);

// A straight line between two pixel positions, clipped to the picture.
void drawLine(IndexedImage& image, double x0, double y0, double x1, double y1, int thickness,
              std::uint8_t index);

} // namespace mapservice
