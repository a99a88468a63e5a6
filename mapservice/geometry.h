#pragma once

#include "mapservice/request.h"

namespace mapservice {

// Plate carree around the centre: every pixel spans zoom / (45 x 1999) degrees both ways, so a
// 1999-pixel picture spans zoom / 45 degrees. Pixel columns and rows count from the top left.
struct Geometry {
    double centreLat;
    double centreLon;
    double degreesPerPixel;
    int width;
    int height;

    explicit Geometry(const MapRequest& request);
    // Position in pixels (fractional; pixel i covers [i, i + 1)).
    double x(double lon) const { return (lon - centreLon) / degreesPerPixel + width / 2.0; }
    double y(double lat) const { return (centreLat - lat) / degreesPerPixel + height / 2.0; }
    double lonAt(double x) const { return centreLon + (x - width / 2.0) * degreesPerPixel; }
    double latAt(double y) const { return centreLat - (y - height / 2.0) * degreesPerPixel; }
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
