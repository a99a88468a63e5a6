#pragma once

#include "mapservice/draw/halt.h"
#include "mapservice/draw/image.h"

namespace mapservice {

// |image| with at most 256 colours. A picture with no more colours than that keeps each one
// exactly (a map's flat colours stay flat); any other gets 256 chosen by median cut over a
// histogram of 5 bits per channel, every pixel taking the colour of its histogram cell's box.
// Once |halt| says so between its passes, what it returns is unfinished, to be thrown away.
Picture quantize(const RgbImage& image, const Halt& halt = {});

} // namespace mapservice
