#pragma once

#include "coastlines.h"
#include "font.h"
#include "request.h"

#include <array>
#include <cstdint>
#include <string>

namespace mapservice {

struct Rgb {
    std::uint8_t r, g, b;
    bool operator==(const Rgb&) const = default;
};

// The 16 colours of a map picture; each map code has its own.
using Palette = std::array<Rgb, 16>;

// What each palette index is used for.
enum Colour : std::uint8_t {
    outsideWorld = 0, // beyond the poles
    sea = 1,
    shore = 2,
    lakeShore = 3,
    graticule = 4,     // whole-degree lines (or coarser ones on a map of a large area)
    fineGraticule = 5, // finer lines where whole degrees would be too few
    label = 6,
    legendBack = 7,
    legendText = 8,
    land = 9,
    lake = 10,
};

Palette paletteFor(const std::string& mapcode);

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

// Which shoreline resolution suits a picture spanning |degrees| at most: the high one for a
// few degrees or less, where the intermediate one shows small lakes as triangles.
enum class Resolution { Crude, Low, Intermediate, High };
Resolution resolutionFor(double degrees);

struct ShoreData {
    const Coastlines* crude = nullptr;
    const Coastlines* low = nullptr;
    const Coastlines* intermediate = nullptr;
    const Coastlines* high = nullptr;

    // The data of |resolution|, else of the nearest coarser one there is, else of the nearest
    // finer one; null when none could be read.
    const Coastlines* atMost(Resolution resolution) const;
};

// The resolutions of |files| that could be read.
ShoreData shoreData(const ShoreFiles& files);

// Fills land and lakes of the bins that |geometry| shows, row by row: each bin row starts
// from the level at its west edge (the south-west corner's level changed by every shoreline
// that ends on the west edge below the row) and changes level at every shoreline it crosses.
void fillLand(IndexedImage& image, const Geometry& geometry, const Coastlines& shores);

// Draws the map picture of |request|: sea, land, shorelines, graticule with labels, legend.
IndexedImage render(const MapRequest& request, const ShoreData& shores);

} // namespace mapservice
