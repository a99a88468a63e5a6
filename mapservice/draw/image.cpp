#include "mapservice/draw/image.h"

#include <algorithm>

namespace mapservice {

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

} // namespace mapservice
