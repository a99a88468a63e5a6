#pragma once

#include "mapservice/draw/coastlines.h"
#include "mapservice/draw/halt.h"
#include "mapservice/draw/image.h"
#include "mapservice/protocol/geometry.h"
#include "mapservice/protocol/request.h"

namespace mapservice {

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

// Where the legend of a picture stands, in pixels: at the bottom left.
struct Legend {
    int x, y, width, height;
};
Legend legendBox(const Geometry& g, const MapRequest& request);

// Draws the map picture of |request| in the colours of palette.h: sea, land, shorelines,
// graticule with labels, legend. Once |halt| says so, between the land's bins, what it returns
// is unfinished, to be thrown away.
IndexedImage render(const MapRequest& request, const ShoreData& shores, const Halt& halt = {});

} // namespace mapservice
