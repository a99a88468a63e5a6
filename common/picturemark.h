#pragma once

#include <QRectF>

namespace common {

// A mark drawn over a picture: a rectangle in fractions of the picture's width and height
// (0,0 its top left, 1,1 its bottom right), outlined or shaded.
struct PictureMark {
    enum class Kind { Outline, Shade, SecondShade };
    QRectF rect;
    Kind kind = Kind::Outline;
};

} // namespace common
