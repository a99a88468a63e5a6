#pragma once

#include "image.h"

#include <cstdint>
#include <string_view>

namespace mapservice {

// Glyphs of a small 5 x 7 pixel font: digits, ".", "-", blank and the letters N S E W Z.
constexpr int glyphWidth = 5;
constexpr int glyphHeight = 7;

// Width in pixels of |text| at |scale|, one pixel column between glyphs.
int textWidth(std::string_view text, int scale);

// Draws |text| with its top-left corner at |x|, |y|; unknown characters are left blank.
void drawText(IndexedImage& image, int x, int y, std::string_view text, int scale,
              std::uint8_t index);

} // namespace mapservice
