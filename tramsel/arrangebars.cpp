#include "tramsel/arrangebars.h"

#include <algorithm>

namespace tramsel {

BarsLayout arrangebars(const BarsInput& in)
{
    BarsLayout out;
    out.vscrollVisible = in.image2Height > referenceInnerHeight;
    out.hscrollVisible = in.image2Width > referenceInnerWidth;
    out.cornerVisible = out.hscrollVisible || out.vscrollVisible;
    out.hscroll = QRect(0, in.formHeight - 650, std::max(0, in.formWidth - 100), barThickness);
    out.vscroll = QRect(in.formWidth - 350, 0, barThickness, std::max(0, in.formHeight - 650));
    out.corner =
        QRect(referenceInnerWidth - barThickness, referenceInnerHeight - barThickness, 15, 15);
    out.vscrollMaximum = 19350;
    out.hscrollMaximum = 14800;
    if (!in.image2Visible) {
        out.hscrollVisible = false;
        out.vscrollVisible = false;
    }
    return out;
}

} // namespace tramsel
