#pragma once

// The slippy-map tile grid that tile servers and map apps share: Web Mercator, 2^z x 2^z tiles
// of 256 pixels at zoom z, column 0 at 180 degrees west, row 0 at the north edge (85.0511
// degrees). Plain C++, for the map service and the exporter.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>

namespace common::mercator {

constexpr int tilePixels = 256;
constexpr double mercatorLimit = 85.0511287798066;     // latitude of the grid's edges
constexpr double halfWorldMetres = 20037508.342789244; // the grid's half width, EPSG:3857

inline double tilesAcross(int zoom)
{
    return std::ldexp(1.0, zoom);
}

// The column of longitude |lon|, fractional; longitudes past 180 give columns past 2^z.
inline double tileColumn(double lon, int zoom)
{
    return (lon + 180.0) / 360.0 * tilesAcross(zoom);
}

inline double columnLongitude(double column, int zoom)
{
    return column / tilesAcross(zoom) * 360.0 - 180.0;
}

// The row of latitude |lat| (clamped to the grid), fractional.
inline double tileRow(double lat, int zoom)
{
    const double phi = std::clamp(lat, -mercatorLimit, mercatorLimit) * std::numbers::pi / 180;
    const double y = std::log(std::tan(std::numbers::pi / 4 + phi / 2)); // -pi..pi
    return (1 - y / std::numbers::pi) / 2 * tilesAcross(zoom);
}

// The latitude of the top edge of fractional row |row|.
inline double rowLatitude(double row, int zoom)
{
    const double y = std::numbers::pi * (1 - 2 * row / tilesAcross(zoom));
    return std::atan(std::sinh(y)) * 180 / std::numbers::pi;
}

// The tile zoom whose pixels, on the equator as everywhere in longitude, are no larger than
// |degreesPerPixel|, capped by |finestZoom|: no blurry upscaling, no needless finer tiles.
inline int tileZoomFor(double degreesPerPixel, int finestZoom)
{
    const double zoom = std::ceil(std::log2(360.0 / (256.0 * degreesPerPixel)) - 1e-9);
    return static_cast<int>(std::clamp(zoom, 0.0, static_cast<double>(finestZoom)));
}

// The column of the tile a server holds for column |x| counted on past the grid's edges.
inline std::int64_t wrapColumn(std::int64_t x, int zoom)
{
    const auto n = static_cast<std::int64_t>(tilesAcross(zoom));
    return ((x % n) + n) % n;
}

} // namespace common::mercator
