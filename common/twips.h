#pragma once

#include <QRect>

#include <cmath>

namespace common {

// The windows define positions and sizes in twips (1/1440 inch). At 96 dots per inch a pixel
// is 15 twips; the conversion happens once, where a value meets a widget.
constexpr int twipsPerPixel = 15;

inline int twipsToPixels(double twips)
{
    return static_cast<int>(std::lround(twips / twipsPerPixel));
}

constexpr int pixelsToTwips(int pixels)
{
    return pixels * twipsPerPixel;
}

inline QRect twipsRect(double left, double top, double width, double height)
{
    return {twipsToPixels(left), twipsToPixels(top), twipsToPixels(width), twipsToPixels(height)};
}

} // namespace common
