#pragma once

// What an upstream sent, checked before it enters the cache: a picture whose header names its
// format and size, and that ends where its format says it ends. Nothing is decoded.
#include <optional>
#include <string>
#include <string_view>

namespace mapservice {

// The picture size an answer must have; 0 x 0: any.
struct PictureSize {
    int width = 0;
    int height = 0;
};

// Why |body| is no whole PNG, JPEG, GIF or WEBP of |size|, or nothing. A PNG's chunks are walked
// to IEND, a JPEG must end in its end marker, a GIF's blocks are walked to the trailer, a WEBP
// must hold the length its RIFF header gives. The reason names what was found.
std::optional<std::string> bodyProblem(std::string_view body, PictureSize size);

// The same for the file at |path| (at most |maxBytes| are read; a larger file is a problem).
std::optional<std::string> fileProblem(const std::string& path, PictureSize size,
                                       std::size_t maxBytes);

} // namespace mapservice
