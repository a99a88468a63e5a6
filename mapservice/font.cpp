#include "font.h"

#include <algorithm>
#include <array>

namespace mapservice {

namespace {

// Seven rows of five bits each, the highest bit at the left.
struct Glyph {
    char c;
    std::array<std::uint8_t, glyphHeight> rows;
};

constexpr Glyph glyphs[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}},
    {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}},
    {'N', {0x11, 0x19, 0x15, 0x13, 0x11, 0x11, 0x11}},
    {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}},
    {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}},
    {'W', {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}},
    {'Z', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F}},
};

const Glyph* find(char c)
{
    for (const Glyph& glyph : glyphs) {
        if (glyph.c == c) {
            return &glyph;
        }
    }
    return nullptr;
}

} // namespace

void IndexedImage::fill(int x, int y, int w, int h, std::uint8_t index)
{
    const int x0 = std::max(0, x);
    const int y0 = std::max(0, y);
    const int x1 = std::min(width, x + w);
    const int y1 = std::min(height, y + h);
    for (int row = y0; row < y1; ++row) {
        std::fill_n(pixels.begin() + static_cast<std::ptrdiff_t>(row) * width + x0,
                    std::max(0, x1 - x0), index);
    }
}

int textWidth(std::string_view text, int scale)
{
    return text.empty() ? 0 : static_cast<int>(text.size()) * (glyphWidth + 1) * scale - scale;
}

void drawText(IndexedImage& image, int x, int y, std::string_view text, int scale,
              std::uint8_t index)
{
    for (const char c : text) {
        if (const Glyph* glyph = find(c)) {
            for (int row = 0; row < glyphHeight; ++row) {
                for (int column = 0; column < glyphWidth; ++column) {
                    if (glyph->rows[static_cast<std::size_t>(row)] & (0x10 >> column)) {
                        image.fill(x + column * scale, y + row * scale, scale, scale, index);
                    }
                }
            }
        }
        x += (glyphWidth + 1) * scale;
    }
}

} // namespace mapservice
