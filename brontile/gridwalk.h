#pragma once

#include "common/tilelist.h"

#include <functional>
#include <optional>
#include <vector>

namespace brontile {

// One picture of the grid: element |element| shows the tile at |position| of the tile list in
// cell |column|, |row| (cells 1400 x 1330 twips apart).
struct Placement {
    int element = 0;
    int position = 0;
    int column = 0;
    int row = 0;

    bool operator==(const Placement&) const = default;
};

// The grid Brontile shows. Where the walk below shows every readable tile once, in the cell its
// coordinates give (a whole rectangle whose northernmost row begins with its westernmost tile
// in the list), that walk, in its order; otherwise the tiles laid out by their coordinates
// (layByCoordinates), since the walk would leave some out or show a row twice.
std::vector<Placement> planGrid(const common::TileList& tiles);

// Each tile whose name can be read, once, in the cell its coordinates give: rows are the
// distinct latitudes, north first; columns the distinct longitudes, counted from the east side
// of the widest gap between them taken modulo 360 (a region across 180 degrees stays whole).
// Where several tiles fall in one cell (another zoom or map letter) the first in the list
// takes it. Elements are numbered row by row, west to east.
std::vector<Placement> layByCoordinates(const common::TileList& tiles);

// The tiles with readable names that |placements| leave out, in list order.
std::vector<int> leftOut(const common::TileList& tiles, const std::vector<Placement>& placements);

// The walk that lays the tiles out, row by row from the northernmost tile. It starts at the
// tile of greatest latitude (the first in list order among equals), steps east until there is
// no further tile, then begins each new row from the start tile with as many steps south as
// the row number (a step that finds nothing stays where it is), one step east and one step
// west, and ends when a row cannot begin or when the element count reaches the number of tiles
// minus 1. Tiles the walk never reaches are not placed; a row it reaches twice is placed twice.
std::vector<Placement> walkTiles(const common::TileList& tiles);

// The same walk over |count| tiles from |start|, with |neighbour| answering every step.
using NeighbourChoice = std::function<std::optional<int>(int current, common::Direction way)>;
std::vector<Placement> walkGrid(int count, int start, const NeighbourChoice& neighbour);

// The start of the walk: the position of greatest latitude, first among equals; 0 when no
// name can be read.
int startPosition(const common::TileList& tiles);

} // namespace brontile
