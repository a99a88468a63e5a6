#include "mapservice/draw/graticule.h"

#include "mapservice/draw/drawing.h"
#include "mapservice/draw/font.h"
#include "mapservice/draw/palette.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

namespace mapservice {

namespace {

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

// Calls |draw| with every multiple of |step| from |from| to |to|, except those on a multiple
// of |coarser| (0: none), which the coarser lines draw, so that labels never overlap. Nothing
// when there would be more than |maxLines|: they would only fill the picture (and, at extreme
// zooms, never end).
template <typename Draw>
void forEachLine(double from, double to, double step, double coarser, double maxLines, Draw draw)
{
    const double first = std::ceil(from / step);
    const double lines = std::floor(to / step) - first + 1;
    if (lines > maxLines) {
        return;
    }
    for (long i = 0; i < static_cast<long>(lines); ++i) {
        const double value = (first + static_cast<double>(i)) * step;
        if (coarser > 0 && std::fabs(value / coarser - std::round(value / coarser)) < 1e-9) {
            continue;
        }
        draw(value);
    }
}

void drawLines(IndexedImage& image, const Geometry& g, double step, std::uint8_t colour,
               double coarser)
{
    const double maxLines = g.width + g.height;
    const int scale = textScale(g);
    const int size = textSize(g);
    const double north = std::min(90.0, g.latAt(0));
    const double south = std::max(-90.0, g.latAt(g.height));
    const int top = std::max(0, toPixel(g.y(north), g.height));
    const int bottom = std::min(g.height, toPixel(std::ceil(g.y(south)), g.height));
    forEachLine(g.lonAt(0), g.lonAt(g.width), step, coarser, maxLines, [&](double lon) {
        const int x = toPixel(g.x(lon), g.width);
        image.fill(x, top, 1, bottom - top, colour);
        // Longitudes repeat every 360 degrees; they are labelled in -180..180.
        drawText(image, x + 2 * scale, top + 2 * scale,
                 degreeText(std::remainder(lon, 360.0), step, 'E', 'W'), size, label);
    });
    forEachLine(south, north, step, coarser, maxLines, [&](double lat) {
        const int y = toPixel(g.y(lat), g.height);
        image.fill(0, y, g.width, 1, colour);
        drawText(image, 2 * scale, y - lineHeight(size) - scale, degreeText(lat, step, 'N', 'S'),
                 size, label);
    });
}

} // namespace

void drawGraticule(IndexedImage& image, const Geometry& g)
{
    const Graticule grid = graticuleFor(g);
    if (grid.fine > 0) {
        drawLines(image, g, grid.fine, fineGraticule, grid.major);
    }
    drawLines(image, g, grid.major, graticule, 0);
}

} // namespace mapservice
