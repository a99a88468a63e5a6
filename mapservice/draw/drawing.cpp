#include "mapservice/draw/drawing.h"

#include <algorithm>
#include <cmath>

namespace mapservice {

namespace {

void plot(IndexedImage& image, int x, int y, int thickness, std::uint8_t index)
{
    image.fill(x - thickness / 2, y - thickness / 2, thickness, thickness, index);
}

} // namespace

int lineWidth(const Geometry& g)
{
    return std::max(g.width, g.height) >= 1000 ? 2 : 1;
}

int toPixel(double value, int limit)
{
    if (std::isnan(value)) {
        return -1;
    }
    return static_cast<int>(std::clamp(std::floor(value), -1.0, static_cast<double>(limit) + 1));
}

int textSize(const Geometry& g)
{
    return std::max(g.width, g.height) >= 1000 ? 26 : 11;
}

int textScale(const Geometry& g)
{
    return std::max(g.width, g.height) >= 1000 ? 3 : 1;
}

void drawLine(IndexedImage& image, double x0, double y0, double x1, double y1, int thickness,
              std::uint8_t index)
{
    const double limit = 1e6; // far outside any picture: not drawn
    if (std::fabs(x0) > limit || std::fabs(x1) > limit || std::fabs(y0) > limit ||
        std::fabs(y1) > limit) {
        return;
    }
    if ((x0 < 0 && x1 < 0) || (y0 < 0 && y1 < 0) || (x0 >= image.width && x1 >= image.width) ||
        (y0 >= image.height && y1 >= image.height)) {
        return;
    }
    const int steps = static_cast<int>(std::max(std::fabs(x1 - x0), std::fabs(y1 - y0))) + 1;
    for (int i = 0; i <= steps; ++i) {
        const double t = static_cast<double>(i) / steps;
        plot(image, static_cast<int>(std::floor(x0 + (x1 - x0) * t)),
             static_cast<int>(std::floor(y0 + (y1 - y0) * t)), thickness, index);
    }
}

} // namespace mapservice
