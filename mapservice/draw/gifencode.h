#pragma once

#include "mapservice/draw/image.h"

#include <span>
#include <string>

namespace mapservice {

// The picture as GIF bytes with |palette| (1 to 256 colours; the indices must lie below its
// size). Throws std::runtime_error when giflib fails.
std::string encodeGif(const IndexedImage& image, std::span<const Rgb> palette);

inline std::string encodeGif(const Picture& picture)
{
    return encodeGif(picture.image, picture.palette);
}

} // namespace mapservice
