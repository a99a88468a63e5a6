#pragma once

// Where the map service's pictures lie. A picture is plate carree around its centre: every
// pixel spans zoom / (45 x 1999) degrees both ways, so a 1999-pixel tile spans zoom / 45
// degrees. Plain C++, shared by the service, the downloader and the exporter.
#include "common/geobox.h"

#include <array>

namespace common {

// A place in decimal degrees, north and east positive.
struct Centre {
    double latitude = 0;
    double longitude = 0;
};

constexpr double tilePixels = 1999;
constexpr double tilesPerZoom = 45;

constexpr double degreesPerPixel(double zoom)
{
    return zoom / tilesPerZoom / tilePixels;
}

// The picture's geotransform in GDAL's order: west edge, pixel width, 0, north edge, 0,
// minus the pixel height, in degrees.
using GeoTransform = std::array<double, 6>;

constexpr GeoTransform pictureGeoTransform(const Centre& centre, double zoom, int width, int height)
{
    const double d = degreesPerPixel(zoom);
    return {centre.longitude - width / 2.0 * d, d, 0, centre.latitude + height / 2.0 * d, 0, -d};
}

// The box a picture of |width| x |height| pixels around |centre| covers at |zoom|.
constexpr GeoBox pictureBox(const Centre& centre, double zoom, int width, int height)
{
    const double d = degreesPerPixel(zoom);
    return {.west = centre.longitude - width / 2.0 * d,
            .south = centre.latitude - height / 2.0 * d,
            .east = centre.longitude + width / 2.0 * d,
            .north = centre.latitude + height / 2.0 * d};
}

} // namespace common
