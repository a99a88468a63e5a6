#include "brontile/gridwalk.h"

namespace brontile {

namespace {

// The walk's current tile and its moves; a move that finds nothing leaves the tile as it is.
class Walker {
public:
    Walker(const NeighbourChoice& neighbour, int start) : neighbour_(neighbour), mapindex_(start) {}

    std::optional<int> FindNextMap(common::Direction way)
    {
        const auto next = neighbour_(mapindex_, way);
        if (next) {
            mapindex_ = *next;
        }
        return next;
    }
    void moveTo(int position) { mapindex_ = position; }

private:
    const NeighbourChoice& neighbour_;
    int mapindex_;
};

} // namespace

int startPosition(const common::TileList& tiles)
{
    int start = 0;
    bool found = false;
    double greatest = 0;
    for (int i = 0; i < tiles.count(); ++i) {
        const auto& here = tiles.coordinates(i);
        if (here && (!found || here->latitude > greatest)) {
            start = i;
            greatest = here->latitude;
            found = true;
        }
    }
    return start;
}

std::vector<Placement> planGrid(const common::TileList& tiles)
{
    return walkGrid(
        tiles.count(), startPosition(tiles),
        [&tiles](int current, common::Direction way) { return tiles.neighbour(current, way); });
}

std::vector<Placement> walkGrid(int count, int start, const NeighbourChoice& neighbour)
{
    std::vector<Placement> placements;
    if (count == 0) {
        return placements;
    }
    Walker walker(neighbour, start);
    placements.push_back({0, start, 0, 0});

    int column = 0;
    int row = 0;
    int element = 0;
    using common::Direction;
    for (;;) {
        auto next = walker.FindNextMap(Direction::East);
        if (!next) {
            walker.moveTo(start);
            ++row;
            for (int step = 0; step < row; ++step) {
                walker.FindNextMap(Direction::South);
            }
            walker.FindNextMap(Direction::East);
            next = walker.FindNextMap(Direction::West);
            column = -1;
            if (!next) {
                break;
            }
        }
        ++column;
        ++element;
        placements.push_back({element, *next, column, row});
        if (element == count - 1) {
            break;
        }
    }
    return placements;
}

} // namespace brontile
