#pragma once

#include <QRect>

namespace tramsel {

// What the layout of the scroll bars starts from; all sizes in twips.
struct BarsInput {
    int formWidth = 0; // outer size of the window, frame and title bar included
    int formHeight = 0;
    int image2Width = 0; // the full-size view takes the size of its picture
    int image2Height = 0;
    bool image2Visible = false;
};

// Where the scroll bars and the corner box go; rectangles in twips.
struct BarsLayout {
    bool vscrollVisible = false;
    bool hscrollVisible = false;
    bool cornerVisible = false;
    QRect hscroll;
    QRect vscroll;
    QRect corner;
    int vscrollMaximum = 0;
    int hscrollMaximum = 0;
};

// The reference box whose inner size decides whether a bar is needed: 2295 x 1695 twips
// less a sunken border of two pixels on every side.
constexpr int referenceInnerWidth = 2295 - 4 * 15;
constexpr int referenceInnerHeight = 1695 - 4 * 15;
constexpr int barThickness = 255;

// A bar is shown when the picture is larger than the reference box, but only in the full-size
// view; the corner box shows whenever a bar would, in either view. The bars are placed from
// the window's outer size; a window too small for them gets bars of length 0. The maxima are
// fixed, whatever the picture's size.
BarsLayout arrangebars(const BarsInput& in);

} // namespace tramsel
