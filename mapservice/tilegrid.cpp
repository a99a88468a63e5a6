#include "mapservice/tilegrid.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace mapservice {

namespace {

using common::mercator::tilesAcross;

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
        range.west = column(g.centre.longitude - 180.0, zoom);
        range.east = range.west + last + 1;
    }
    return range;
}

std::string tileUrl(const std::string& url, int zoom, std::int64_t x, std::int64_t y)
{
    return replaced(replaced(replaced(url, "{z}", std::to_string(zoom)), "{x}", std::to_string(x)),
                    "{y}", std::to_string(y));
}

} // namespace mapservice
