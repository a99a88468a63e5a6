#include "mapservice/protocol/tilegrid.h"

#include <algorithm>
#include <cctype>
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

common::Result<XyzTemplate> xyzTemplate(const SourceParams& spec, bool tms)
{
    XyzTemplate t;
    t.url = tms ? spec.url + "/{z}/{x}/{-y}.png" : spec.url;
    const auto has = [&t](const char* key) { return t.url.find(key) != std::string::npos; };
    const std::string what = tms ? "a tms: source" : "an xyz: source";
    if (!has("{q}") && !(has("{z}") && has("{x}") && (has("{y}") || has("{-y}")))) {
        return common::badInput(what + " needs {z}, {x} and {y} (or {-y}) in its URL, or {q}");
    }
    const std::string subdomains = spec.param("subdomains");
    if (subdomains.find(',') != std::string::npos) {
        for (std::size_t start = 0; start <= subdomains.size();) {
            const std::size_t end = std::min(subdomains.find(',', start), subdomains.size());
            if (end > start) {
                t.subdomains.push_back(subdomains.substr(start, end - start));
            }
            start = end + 1;
        }
    } else {
        for (const char c : subdomains) {
            t.subdomains.emplace_back(1, c);
        }
    }
    const bool wantsSubdomain = has("{s}");
    if (wantsSubdomain != !t.subdomains.empty()) {
        return common::badInput(what + (wantsSubdomain ? " with {s} needs #subdomains=..."
                                                       : ": #subdomains= needs {s} in the URL"));
    }
    for (const std::string& sub : t.subdomains) {
        if (sub.empty() || !std::all_of(sub.begin(), sub.end(), [](unsigned char c) {
                return std::isalnum(c) != 0 || c == '-';
            })) {
            return common::badInput(what + ": #subdomains= takes letters, digits and '-'");
        }
    }
    if (const std::string size = spec.param("tilesize"); !size.empty()) {
        if (size != "256" && size != "512") {
            return common::badInput(what + ": #tilesize= is 256 or 512, not " + size);
        }
        t.tileSize = std::stoi(size);
    }
    return t;
}

int templateZoomFor(const XyzTemplate& t, double degreesPerPixel, int finestZoom)
{
    // A tile of 512 pixels at zoom z has the pixels of a 256-pixel tile at z + 1.
    const int extra = t.tileSize == 512 ? 1 : 0;
    return std::max(0, tileZoomFor(degreesPerPixel, finestZoom + extra) - extra);
}

std::string quadkey(int zoom, std::int64_t x, std::int64_t y)
{
    std::string key;
    for (int level = zoom; level > 0; --level) {
        const std::int64_t bit = std::int64_t{1} << (level - 1);
        key += static_cast<char>('0' + ((x & bit) != 0 ? 1 : 0) + ((y & bit) != 0 ? 2 : 0));
    }
    return key;
}

std::string tileUrl(const XyzTemplate& t, int zoom, std::int64_t x, std::int64_t y)
{
    const std::int64_t fromSouth = (std::int64_t{1} << zoom) - 1 - y;
    std::string url = replaced(t.url, "{z}", std::to_string(zoom));
    url = replaced(url, "{x}", std::to_string(x));
    url = replaced(url, "{-y}", std::to_string(fromSouth));
    url = replaced(url, "{y}", std::to_string(y));
    url = replaced(url, "{q}", quadkey(zoom, x, y));
    url = replaced(url, "{r}", t.tileSize == 512 ? "@2x" : "");
    if (!t.subdomains.empty()) {
        const auto n = static_cast<std::int64_t>(t.subdomains.size());
        url = replaced(url, "{s}", t.subdomains[static_cast<std::size_t>((x + y) % n)]);
    }
    return url;
}

} // namespace mapservice
