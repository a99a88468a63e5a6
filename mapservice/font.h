#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace mapservice {

// A picture of palette indices, row by row from the top.
struct IndexedImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;

    IndexedImage(int w, int h, std::uint8_t fill)
        : width(w), height(h),
          pixels(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), fill)
    {}
    void set(int x, int y, std::uint8_t index)
    {
        if (x >= 0 && y >= 0 && x < width && y < height) {
            pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                   static_cast<std::size_t>(x)] = index;
        }
    }
    std::uint8_t at(int x, int y) const
    {
        return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                      static_cast<std::size_t>(x)];
    }
    void fill(int x, int y, int w, int h, std::uint8_t index);
};

// Glyphs of a small 5 x 7 pixel font: digits, ".", "-", blank and the letters N S E W Z.
constexpr int glyphWidth = 5;
constexpr int glyphHeight = 7;

// Width in pixels of |text| at |scale|, one pixel column between glyphs.
int textWidth(std::string_view text, int scale);

// Draws |text| with its top-left corner at |x|, |y|; unknown characters are left blank.
void drawText(IndexedImage& image, int x, int y, std::string_view text, int scale,
              std::uint8_t index);

} // namespace mapservice
