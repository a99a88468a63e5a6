#include "render.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace mapservice {

namespace {

constexpr double tilePixels = 1999;
constexpr double tilesPerZoom = 45;

Palette basePalette()
{
    Palette p{};
    p.fill({0, 0, 0});
    return p;
}

// Lines thicker on large pictures, so that they stay visible when shrunk.
int lineWidth(const Geometry& g)
{
    return std::max(g.width, g.height) >= 1000 ? 2 : 1;
}

// A pixel position as an int, clamped just beyond 0..|limit| so that far-away coordinates of
// extreme zooms neither overflow nor draw.
int toPixel(double value, int limit)
{
    if (std::isnan(value)) {
        return -1;
    }
    return static_cast<int>(std::clamp(std::floor(value), -1.0, static_cast<double>(limit) + 1));
}

// A picture spanning more worlds than this shows no shorelines: each world would be a few
// pixels wide, and drawing them all would take without end.
constexpr double maxWorldsAcross = 64;

int textScale(const Geometry& g)
{
    return std::max(g.width, g.height) >= 1000 ? 3 : 1;
}

void plot(IndexedImage& image, int x, int y, int thickness, std::uint8_t index)
{
    image.fill(x - thickness / 2, y - thickness / 2, thickness, thickness, index);
}

// A straight line between two pixel positions, clipped to the picture.
void drawLine(IndexedImage& image, double x0, double y0, double x1, double y1, int thickness,
              std::uint8_t index)
{
    const double limit = 1e6; // far outside any picture: not drawn
    if (std::fabs(x0) > limit || std::fabs(x1) > limit || std::fabs(y0) > limit ||
        std::fabs(y1) > limit) {
        return;
    }
    if ((x0 < 0 && x1 < 0) || (y0 < 0 && y1 < 0) || (x0 >= image.width && x1 >= image.width) ||
        (y0 >= image.height && y1 >= image.height)) {
        return;
    }
    const int steps = static_cast<int>(std::max(std::fabs(x1 - x0), std::fabs(y1 - y0))) + 1;
    for (int i = 0; i <= steps; ++i) {
        const double t = static_cast<double>(i) / steps;
        plot(image, static_cast<int>(std::floor(x0 + (x1 - x0) * t)),
             static_cast<int>(std::floor(y0 + (y1 - y0) * t)), thickness, index);
    }
}

std::string degreeText(double value, double step, char positive, char negative)
{
    int decimals = 0;
    while (decimals < 3 && std::fabs(step * std::pow(10, decimals) -
                                     std::round(step * std::pow(10, decimals))) > 1e-9) {
        ++decimals;
    }
    char text[48];
    std::snprintf(text, sizeof text, "%.*f%c", decimals, std::fabs(value),
                  value < 0 ? negative : positive);
    return text;
}

// Lines every |step| degrees; those that fall on a multiple of |coarser| (0: none) are left to
// the coarser lines, so that labels never overlap.
void drawGraticuleLines(IndexedImage& image, const Geometry& g, double step, std::uint8_t colour,
                        double coarser)
{
    const auto onCoarser = [coarser](double value) {
        return coarser > 0 && std::fabs(value / coarser - std::round(value / coarser)) < 1e-9;
    };
    // More lines than pixels would only fill the picture (and, at extreme zooms, never end).
    const double maxLines = g.width + g.height;
    const int scale = textScale(g);
    const double west = g.lonAt(0);
    const double east = g.lonAt(g.width);
    const double north = std::min(90.0, g.latAt(0));
    const double south = std::max(-90.0, g.latAt(g.height));
    const double firstLon = std::ceil(west / step);
    const double lonLines = std::floor(east / step) - firstLon + 1;
    for (long i = 0; lonLines <= maxLines && i < static_cast<long>(lonLines); ++i) {
        const double lon = (firstLon + static_cast<double>(i)) * step;
        if (onCoarser(lon)) {
            continue;
        }
        const int x = toPixel(g.x(lon), g.width);
        const int top = std::max(0, toPixel(g.y(north), g.height));
        const int bottom = std::min(g.height, toPixel(std::ceil(g.y(south)), g.height));
        image.fill(x, top, 1, bottom - top, colour);
        // Longitudes repeat every 360 degrees; they are labelled in -180..180.
        drawText(image, x + 2 * scale, top + 2 * scale,
                 degreeText(std::remainder(lon, 360.0), step, 'E', 'W'), scale, label);
    }
    const double firstLat = std::ceil(south / step);
    const double latLines = std::floor(north / step) - firstLat + 1;
    for (long i = 0; latLines <= maxLines && i < static_cast<long>(latLines); ++i) {
        const double lat = (firstLat + static_cast<double>(i)) * step;
        if (onCoarser(lat)) {
            continue;
        }
        const int y = toPixel(g.y(lat), g.height);
        image.fill(0, y, g.width, 1, colour);
        drawText(image, 2 * scale, y - (glyphHeight + 2) * scale, degreeText(lat, step, 'N', 'S'),
                 scale, label);
    }
}

void drawShores(IndexedImage& image, const Geometry& g, const Coastlines& shores)
{
    if (g.lonAt(g.width) - g.lonAt(0) > 360 * maxWorldsAcross) {
        return;
    }
    const int thickness = lineWidth(g);
    shores.forEachSegment(
        g.latAt(g.height), g.latAt(0), g.lonAt(0), g.lonAt(g.width),
        [&](const GeoPoint* points, std::size_t count, double offset, int level) {
            const std::uint8_t colour = (level >= 2 && level <= 4) ? lakeShore : shore;
            for (std::size_t i = 1; i < count; ++i) {
                drawLine(image, g.x(points[i - 1].lon + offset), g.y(points[i - 1].lat),
                         g.x(points[i].lon + offset), g.y(points[i].lat), thickness, colour);
            }
        });
}

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

void drawLegend(IndexedImage& image, const Geometry& g, const MapRequest& request)
{
    char text[96];
    std::snprintf(text, sizeof text, "%s %.4f %s %.4f Z %.6g", request.latitude < 0 ? "S" : "N",
                  std::fabs(request.latitude), request.longitude < 0 ? "W" : "E",
                  std::fabs(request.longitude), request.zoom);
    const int scale = textScale(g);
    const int w = textWidth(text, scale) + 6 * scale;
    const int h = (glyphHeight + 6) * scale;
    const int x = 4 * scale;
    const int y = g.height - h - 4 * scale;
    image.fill(x, y, w, h, legendBack);
    drawText(image, x + 3 * scale, y + 3 * scale, text, scale, legendText);
}

} // namespace

void fillLand(IndexedImage& image, const Geometry& g, const Coastlines& shores)
{
    if (g.lonAt(g.width) - g.lonAt(0) > 360 * maxWorldsAcross) {
        return;
    }
    shores.forEachBin(std::max(-90.0, g.latAt(g.height)), std::min(90.0, g.latAt(0)), g.lonAt(0),
                      g.lonAt(g.width),
                      [&](const Coastlines::Bin& bin) { fillBin(image, g, shores, bin); });
}

ShoreData shoreData(const ShoreFiles& files)
{
    const auto pointer = [](const std::optional<Coastlines>& shores) {
        return shores ? &*shores : nullptr;
    };
    return {pointer(files.crude), pointer(files.low), pointer(files.intermediate),
            pointer(files.high)};
}

const Coastlines* ShoreData::atMost(Resolution resolution) const
{
    const Coastlines* const finestFirst[] = {high, intermediate, low, crude};
    const auto wanted = static_cast<std::ptrdiff_t>(3 - static_cast<int>(resolution));
    for (std::ptrdiff_t i = wanted; i < 4; ++i) {
        if (finestFirst[i] != nullptr) {
            return finestFirst[i];
        }
    }
    for (std::ptrdiff_t i = wanted - 1; i >= 0; --i) { // only finer ones are there
        if (finestFirst[i] != nullptr) {
            return finestFirst[i];
        }
    }
    return nullptr;
}

Palette paletteFor(const std::string& mapcode)
{
    Palette p = basePalette();
    if (mapcode == "WLD0407") {
        // A night chart: dark sea, bright shores.
        p[outsideWorld] = {20, 20, 20};
        p[sea] = {16, 38, 74};
        p[shore] = {250, 214, 92};
        p[lakeShore] = {120, 220, 250};
        p[graticule] = {96, 128, 170};
        p[fineGraticule] = {50, 80, 120};
        p[label] = {230, 230, 230};
        p[legendBack] = {0, 0, 0};
        p[legendText] = {250, 214, 92};
        p[land] = {46, 52, 40};
        p[lake] = {22, 52, 96};
    } else {
        // A day chart for the European and American maps and any other code.
        p[outsideWorld] = {200, 200, 200};
        p[sea] = {170, 211, 240};
        p[shore] = {60, 60, 60};
        p[lakeShore] = {30, 90, 190};
        p[graticule] = {190, 60, 60};
        p[fineGraticule] = {225, 150, 150};
        p[label] = {120, 20, 20};
        p[legendBack] = {255, 255, 255};
        p[legendText] = {0, 0, 0};
        p[land] = {238, 234, 218};
        p[lake] = {150, 196, 236};
        if (mapcode == "USA407") {
            p[shore] = {20, 90, 30};
        }
    }
    return p;
}

Geometry::Geometry(const MapRequest& request)
    : centreLat(request.latitude), centreLon(request.longitude),
      // Below a millionth of a millionth of a degree the scale means nothing, and smaller
      // values would vanish into 0 and divide by it.
      degreesPerPixel(std::max(request.zoom / tilesPerZoom / tilePixels, 1e-12)),
      width(request.width), height(request.height)
{}

Graticule graticuleFor(const Geometry& g)
{
    static constexpr double coarse[] = {1, 2, 5, 10, 15, 30, 45, 90};
    static constexpr double fine[] = {0.5,  0.25,  0.2,   0.1,   0.05,  0.02,
                                      0.01, 0.005, 0.002, 0.001, 0.0005};
    Graticule result{90, 0};
    for (const double step : coarse) {
        if (step / g.degreesPerPixel >= minimumSpacing) {
            result.major = step;
            break;
        }
    }
    // Whole degrees crossing the picture, in the direction with fewer of them.
    const auto wholeDegrees = [](double from, double to) {
        return std::floor(to) - std::ceil(from) + 1;
    };
    const double lines = std::min(wholeDegrees(g.lonAt(0), g.lonAt(g.width)),
                                  wholeDegrees(g.latAt(g.height), g.latAt(0)));
    const double span = std::min(g.width, g.height) * g.degreesPerPixel;
    if (result.major == 1 && lines < 3) {
        for (const double step : fine) {
            result.fine = step;
            if (span / step >= 3) {
                break;
            }
        }
    }
    return result;
}

Resolution resolutionFor(double degrees)
{
    if (degrees > 40) {
        return Resolution::Crude;
    }
    if (degrees > 6) {
        return Resolution::Low;
    }
    return degrees > 3 ? Resolution::Intermediate : Resolution::High;
}

IndexedImage render(const MapRequest& request, const ShoreData& shores)
{
    const Geometry g(request);
    IndexedImage image(g.width, g.height, sea);
    // Rows beyond the poles.
    const int northEdge = std::clamp(toPixel(g.y(90), g.height), 0, g.height);
    const int southEdge = std::clamp(toPixel(std::ceil(g.y(-90)), g.height), 0, g.height);
    image.fill(0, 0, g.width, northEdge, outsideWorld);
    image.fill(0, southEdge, g.width, g.height - southEdge, outsideWorld);

    const double span = std::max(g.width, g.height) * g.degreesPerPixel;
    const Coastlines* data = shores.atMost(resolutionFor(span));
    if (data != nullptr) {
        fillLand(image, g, *data);
    }
    const Graticule grid = graticuleFor(g);
    if (grid.fine > 0) {
        drawGraticuleLines(image, g, grid.fine, fineGraticule, grid.major);
    }
    drawGraticuleLines(image, g, grid.major, graticule, 0);
    if (data != nullptr) {
        drawShores(image, g, *data);
    }
    drawLegend(image, g, request);
    return image;
}

} // namespace mapservice
