#pragma once

#include "mapservice/draw/halt.h"
#include "mapservice/draw/image.h"

#include <span>
#include <string>

namespace mapservice {

// The picture as GIF bytes with |palette| (1 to 256 colours; the indices must lie below its
// size). Throws std::runtime_error when giflib fails. Nothing once |halt| says so between
// rows.
std::string encodeGif(const IndexedImage& image, std::span<const Rgb> palette,
                      const Halt& halt = {});

inline std::string encodeGif(const Picture& picture, const Halt& halt = {})
{
    return encodeGif(picture.image, picture.palette, halt);
}

} // namespace mapservice
