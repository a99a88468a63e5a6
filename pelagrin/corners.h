#pragma once

#include <QString>

namespace pelagrin {

// The begin corner is refused above this zoom; the end corner is taken at any zoom.
constexpr double maxBeginZoom = 3000;
// From this zoom on, corners are rounded down to whole degrees.
constexpr double wholeDegreeZoom = 20;

// A corner coordinate from the current centre coordinate |value|: unchanged below zoom 20,
// otherwise the greatest whole number not greater than it (47.65 -> 47, -33.2 -> -34).
double cornerValue(double value, double zoom);

// A region's corners: the begin corner north-west, the end corner south-east.
struct Corners {
    double beginlat = 0;
    double beginlong = 0;
    double endlat = 0;
    double endlong = 0;
};

} // namespace pelagrin
