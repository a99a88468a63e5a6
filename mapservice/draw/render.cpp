#include "mapservice/draw/render.h"

#include "mapservice/draw/drawing.h"
#include "mapservice/draw/font.h"
#include "mapservice/draw/graticule.h"
#include "mapservice/draw/landfill.h"
#include "mapservice/draw/palette.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

namespace mapservice {

namespace {

void drawShores(IndexedImage& image, const Geometry& g, const Coastlines& shores)
{
    if (g.lonAt(g.width) - g.lonAt(0) > 360 * maxWorldsAcross) {
        return;
    }
    const int thickness = lineWidth(g);
    shores.forEachSegment(
        g.box(), [&](const GeoPoint* points, std::size_t count, double offset, int level) {
            const std::uint8_t colour = (level >= 2 && level <= 4) ? lakeShore : shore;
            for (std::size_t i = 1; i < count; ++i) {
                drawLine(image, g.x(points[i - 1].lon + offset), g.y(points[i - 1].lat),
                         g.x(points[i].lon + offset), g.y(points[i].lat), thickness, colour);
            }
        });
}

// Centre and zoom, then the source's credit when it has one.
std::string legendLine(const MapRequest& request)
{
    char text[96];
    std::snprintf(text, sizeof text, "%s %.4f %s %.4f Z %.6g",
                  request.centre.latitude < 0 ? "S" : "N", std::fabs(request.centre.latitude),
                  request.centre.longitude < 0 ? "W" : "E", std::fabs(request.centre.longitude),
                  request.zoom);
    return request.attribution.empty() ? std::string(text)
                                       : std::string(text) + "   " + request.attribution;
}

void drawLegend(IndexedImage& image, const Geometry& g, const MapRequest& request)
{
    const Legend box = legendBox(g, request);
    const int scale = textScale(g);
    image.fill(box.x, box.y, box.width, box.height, legendBack);
    drawText(image, box.x + 3 * scale, box.y + 2 * scale, legendLine(request), textSize(g),
             legendText);
}

} // namespace

Legend legendBox(const Geometry& g, const MapRequest& request)
{
    if (!request.legend) {
        return {0, 0, 0, 0};
    }
    const int scale = textScale(g);
    const int w = textWidth(legendLine(request), textSize(g)) + 6 * scale;
    const int h = lineHeight(textSize(g)) + 4 * scale;
    return {4 * scale, g.height - h - 4 * scale, w, h};
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

IndexedImage render(const MapRequest& request, const ShoreData& shores, const Halt& halt)
{
    const Geometry g(request);
    IndexedImage image(g.width, g.height, sea);
    // Rows beyond the poles.
    const int northEdge = std::clamp(toPixel(g.y(90), g.height), 0, g.height);
    const int southEdge = std::clamp(toPixel(std::ceil(g.y(-90)), g.height), 0, g.height);
    image.fill(0, 0, g.width, northEdge, outsideWorld);
    image.fill(0, southEdge, g.width, g.height - southEdge, outsideWorld);

    const Coastlines* data = shores.atMost(resolutionFor(g.span()));
    if (data != nullptr) {
        fillLand(image, g, *data, halt);
    }
    if (halted(halt)) {
        return image;
    }
    drawGraticule(image, g);
    if (data != nullptr) {
        drawShores(image, g, *data);
    }
    if (request.legend) {
        drawLegend(image, g, request);
    }
    return image;
}

} // namespace mapservice
