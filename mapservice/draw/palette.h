#pragma once

#include "mapservice/draw/image.h"

#include <array>
#include <cstdint>
#include <string>

namespace mapservice {

// The 16 colours of a drawn map picture; each map code has its own.
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

// A day chart for the European and American maps and any other code; a night chart for map
// type 2 ("WLD0407").
Palette paletteFor(const std::string& mapcode);

} // namespace mapservice
