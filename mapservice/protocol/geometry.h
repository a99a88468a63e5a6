#pragma once

#include "mapservice/protocol/request.h"

namespace mapservice {

// A picture spanning more worlds than this shows nothing of them: each world would be a few
// pixels wide, and drawing them all would take without end.
constexpr double maxWorldsAcross = 64;

// Plate carree around the centre: every pixel spans zoom / (45 x 1999) degrees both ways, so a
// 1999-pixel picture spans zoom / 45 degrees. Pixel columns and rows count from the top left.
struct Geometry {
    common::Centre centre;
    double degreesPerPixel;
    int width;
    int height;

    explicit Geometry(const MapRequest& request);
    // Position in pixels (fractional; pixel i covers [i, i + 1)).
    double x(double lon) const { return (lon - centre.longitude) / degreesPerPixel + width / 2.0; }
    double y(double lat) const { return (centre.latitude - lat) / degreesPerPixel + height / 2.0; }
    double lonAt(double x) const { return centre.longitude + (x - width / 2.0) * degreesPerPixel; }
    double latAt(double y) const { return centre.latitude - (y - height / 2.0) * degreesPerPixel; }
    // What the picture covers; its longitudes may lie anywhere and span more than 360 degrees.
    common::GeoBox box() const
    {
        return {.west = lonAt(0), .south = latAt(height), .east = lonAt(width), .north = latAt(0)};
    }
    // The larger side's extent in degrees.
    double span() const;
};

// Graticule spacing in degrees: |major| lines at every whole degree unless they would lie
// closer than |minimumSpacing| pixels (then 2, 5, 10, ... degrees); |fine| lines (0 when none)
// where fewer than three whole-degree lines would cross the picture.
struct Graticule {
    double major;
    double fine;
};
constexpr double minimumSpacing = 24;
Graticule graticuleFor(const Geometry& geometry);

} // namespace mapservice
