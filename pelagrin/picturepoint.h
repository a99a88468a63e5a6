#pragma once

// The place under a point of a fetched picture, for "click to centre".
#include "common/tilegeometry.h"
#include "pelagrin/corners.h"

#include <QPointF>
#include <QString>

namespace pelagrin {

// A picture Refresh or Preview fetched: the centre and zoom it was asked for, and its side in
// pixels (it is square).
struct FetchedPicture {
    common::Centre centre;
    double zoom = 0;
    int side = 0;
};

// The centre of the picture pixel under the point |x|, |y| of |picture| shown |shownWidth| x
// |shownHeight| pixels large (a shrunk picture's point is scaled by its side over the shown
// size): zoom / 45 degrees per 1999 pixels on both axes from the picture's centre. The
// longitude is wrapped into -180..180, the latitude clamped to -90..90.
common::Centre pointOnPicture(const FetchedPicture& picture, double x, double y, double shownWidth,
                              double shownHeight);

// The corners a drag from |from| to |to| on |picture| (shown |shownWidth| x |shownHeight|
// pixels large) sets at |zoom|: the dragged rectangle's north-west corner as "Set to Begin
// Region" takes a centre, its south-east corner as "Set to End Region" does. A drag across 180
// degrees gives an east longitude past 180, so that the region runs on across it.
Corners dragCorners(const FetchedPicture& picture, QPointF from, QPointF to, double shownWidth,
                    double shownHeight, double zoom);

// |value| as the centre boxes take it from a click: six decimals, "." and a leading "-" for
// negatives ("-0.250000"); a value that rounds to zero is "0.000000".
QString pointText(double value);

} // namespace pelagrin
