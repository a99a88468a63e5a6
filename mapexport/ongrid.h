#pragma once

// Which tiles the Web Mercator grid of map tiles can hold.
#include "mapexport/tilepyramid.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace mapexport {

// Why |tile| at |centre| cannot be cut into the grid, or nothing: it spans more than the whole
// earth, less than a pixel of the finest zoom, or lies wholly beyond the grid's latitudes.
std::optional<QString> gridProblem(const Tile& tile, const Centre& centre);

// The tiles that the grid can hold, with their centres, and "name: why" for each of the rest.
struct OnGrid {
    std::vector<Tile> tiles;
    std::vector<Centre> centres;
    QStringList leftOut;
};
OnGrid keepOnGrid(std::vector<Tile> tiles, std::vector<Centre> centres);

} // namespace mapexport
