#include "mapservice/tilegrid.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace mapservice {

namespace {

double tilesAcross(int zoom)
{
    return std::ldexp(1.0, zoom);
}

std::int64_t column(double lon, int zoom)
{
    return static_cast<std::int64_t>(std::floor((lon + 180.0) / 360.0 * tilesAcross(zoom)));
}

std::string replaced(std::string text, const std::string& key, const std::string& value)
{
    for (std::size_t at = text.find(key); at != std::string::npos;
         at = text.find(key, at + value.size())) {
        text.replace(at, key.size(), value);
    }
    return text;
}

} // namespace

double tileRow(double lat, int zoom)
{
    const double phi = std::clamp(lat, -mercatorLimit, mercatorLimit) * std::numbers::pi / 180;
    const double y = std::log(std::tan(std::numbers::pi / 4 + phi / 2)); // -pi..pi
    return (1 - y / std::numbers::pi) / 2 * tilesAcross(zoom);
}

double rowLatitude(double row, int zoom)
{
    const double y = std::numbers::pi * (1 - 2 * row / tilesAcross(zoom));
    return std::atan(std::sinh(y)) * 180 / std::numbers::pi;
}

TileRange coveringTiles(const Geometry& g, int zoom, int ring)
{
    TileRange range;
    range.zoom = zoom;
    const double north = g.latAt(0);
    const double south = g.latAt(g.height);
    if (south >= mercatorLimit || north <= -mercatorLimit || g.width <= 0 || g.height <= 0) {
        return range; // nothing of the grid in the picture
    }
    const auto last = static_cast<std::int64_t>(tilesAcross(zoom)) - 1;
    // The edge pixel's far side belongs to the next tile only when it passes the tile's edge.
    const auto lastRow = [&](double lat) {
        return static_cast<std::int64_t>(std::ceil(tileRow(lat, zoom)) - 1);
    };
    range.north = std::max<std::int64_t>(
        0, static_cast<std::int64_t>(std::floor(tileRow(north, zoom))) - ring);
    range.south = std::min<std::int64_t>(last, lastRow(south) + ring);
    range.west = column(g.lonAt(0), zoom) - ring;
    range.east = static_cast<std::int64_t>(
                     std::ceil((g.lonAt(g.width) + 180.0) / 360.0 * tilesAcross(zoom)) - 1) +
                 ring;
    if (range.east - range.west + 1 > last + 2) {
        range.west = column(g.centreLon - 180.0, zoom);
        range.east = range.west + last + 1;
    }
    return range;
}

int tileZoomFor(double degreesPerPixel, int finestZoom)
{
    const double zoom = std::ceil(std::log2(360.0 / (256.0 * degreesPerPixel)) - 1e-9);
    return static_cast<int>(std::clamp(zoom, 0.0, static_cast<double>(finestZoom)));
}

std::int64_t wrapColumn(std::int64_t x, int zoom)
{
    const auto n = static_cast<std::int64_t>(tilesAcross(zoom));
    return ((x % n) + n) % n;
}

std::string tileUrl(const std::string& url, int zoom, std::int64_t x, std::int64_t y)
{
    return replaced(replaced(replaced(url, "{z}", std::to_string(zoom)), "{x}", std::to_string(x)),
                    "{y}", std::to_string(y));
}

} // namespace mapservice
