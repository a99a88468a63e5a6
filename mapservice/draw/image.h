#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mapservice {

struct Rgb {
    std::uint8_t r, g, b;
    bool operator==(const Rgb&) const = default;
};

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
    // Sets the rectangle, clipped to the picture.
    void fill(int x, int y, int w, int h, std::uint8_t index);
};

// A picture of colours, row by row from the top.
struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<Rgb> pixels;

    RgbImage(int w, int h, Rgb fill)
        : width(w), height(h),
          pixels(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), fill)
    {}
    Rgb& at(int x, int y)
    {
        return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                      static_cast<std::size_t>(x)];
    }
};

// A picture as it is encoded: palette indices and the colours they stand for (at most 256),
// and the credit its source asks for, empty when it has none.
struct Picture {
    IndexedImage image;
    std::vector<Rgb> palette;
    std::string credit;
    // What it was drawn from, where the source can tell (a local file's identity): its ETag is
    // made from this rather than from what the source said before drawing.
    std::string drawnFrom;
};

} // namespace mapservice
