#include "mapservice/draw/landfill.h"

#include "mapservice/draw/drawing.h"
#include "mapservice/draw/palette.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace mapservice {

namespace {

// Crossing a shoreline of level |boundary| moves between the levels on its two sides.
int crossed(int level, int boundary)
{
    return level >= boundary ? boundary - 1 : boundary;
}

std::uint8_t fillColour(int level)
{
    if (level == 1 || level == 3) {
        return land;
    }
    return level == 2 || level == 4 ? lake : sea;
}

// The level a shoreline piece separates, as the fill counts it: the outer Antarctic ice edge
// counts as a shore; the grounding line inside it is not a boundary of its own.
int fillBoundary(int level)
{
    return level == 5 ? 1 : level;
}

struct Edge {
    double lon0, lat0, lon1, lat1;
    int level;
};

void fillBin(IndexedImage& image, const Geometry& g, const Coastlines& shores,
             const Coastlines::Bin& bin)
{
    const double north = bin.south + bin.size;
    const double east = bin.west + bin.size;
    const int top = std::clamp(toPixel(g.y(north) - 0.5, g.height) + 1, 0, g.height);
    const int bottom = std::clamp(toPixel(g.y(bin.south) - 0.5, g.height) + 1, 0, g.height);
    const int left = std::clamp(toPixel(g.x(bin.west) - 0.5, g.width) + 1, 0, g.width);
    const int right = std::clamp(toPixel(g.x(east) - 0.5, g.width) + 1, 0, g.width);
    if (top >= bottom || left >= right) {
        return;
    }
    std::vector<Edge> edges;
    std::vector<std::pair<double, int>> westEnds; // latitude and level of pieces ending there
    shores.forEachSegmentOf(bin, [&](const GeoPoint* p, std::size_t n, double offset, int level) {
        if (level == 6 || n == 0) {
            return;
        }
        const int boundary = fillBoundary(level);
        for (std::size_t i = 1; i < n; ++i) {
            edges.push_back(
                {p[i - 1].lon + offset, p[i - 1].lat, p[i].lon + offset, p[i].lat, boundary});
        }
        for (const GeoPoint* end : {&p[0], &p[n - 1]}) {
            if (end->lon + offset <= bin.west + 1e-9 && end->lat > bin.south + 1e-9) {
                westEnds.emplace_back(end->lat, boundary);
            }
        }
    });
    if (edges.empty()) {
        const std::uint8_t colour = fillColour(bin.southWestLevel);
        if (colour != sea) {
            for (int y = top; y < bottom; ++y) {
                image.fill(left, y, right - left, 1, colour);
            }
        }
        return;
    }
    std::sort(westEnds.begin(), westEnds.end());
    std::vector<std::pair<double, int>> crossings;
    for (int y = bottom - 1; y >= top; --y) {
        const double lat = g.latAt(y + 0.5);
        int level = bin.southWestLevel;
        for (const auto& [endLat, boundary] : westEnds) {
            if (endLat < lat) {
                level = crossed(level, boundary);
            }
        }
        crossings.clear();
        for (const Edge& e : edges) {
            if ((e.lat0 <= lat) != (e.lat1 <= lat)) {
                const double t = (lat - e.lat0) / (e.lat1 - e.lat0);
                crossings.emplace_back(e.lon0 + t * (e.lon1 - e.lon0), e.level);
            }
        }
        std::sort(crossings.begin(), crossings.end());
        int x = left;
        for (const auto& [lon, boundary] : crossings) {
            const int until = std::clamp(toPixel(g.x(lon) - 0.5, g.width) + 1, left, right);
            const std::uint8_t colour = fillColour(level);
            if (colour != sea && until > x) {
                image.fill(x, y, until - x, 1, colour);
            }
            x = std::max(x, until);
            level = crossed(level, boundary);
        }
        const std::uint8_t colour = fillColour(level);
        if (colour != sea && right > x) {
            image.fill(x, y, right - x, 1, colour);
        }
    }
}

} // namespace

void fillLand(IndexedImage& image, const Geometry& g, const Coastlines& shores, const Halt& halt)
{
    if (g.lonAt(g.width) - g.lonAt(0) > 360 * maxWorldsAcross) {
        return;
    }
    common::GeoBox box = g.box();
    box.south = std::max(-90.0, box.south);
    box.north = std::min(90.0, box.north);
    bool stopped = false;
    shores.forEachBin(box, [&](const Coastlines::Bin& bin) {
        stopped = stopped || halted(halt);
        if (!stopped) {
            fillBin(image, g, shores, bin);
        }
    });
}

} // namespace mapservice
