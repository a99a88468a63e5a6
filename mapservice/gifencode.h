#pragma once

#include "font.h"
#include "render.h"

#include <string>

namespace mapservice {

// The picture as GIF bytes with |palette|. Throws std::runtime_error when giflib fails.
std::string encodeGif(const IndexedImage& image, const Palette& palette);

} // namespace mapservice
