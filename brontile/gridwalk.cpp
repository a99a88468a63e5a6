#include "gridwalk.h"

namespace brontile {

namespace {

// The walk's current tile and its moves; a move that finds nothing leaves the tile as it is.
class Walker {
public:
    Walker(const NeighbourChoice& neighbour, int start) : neighbour_(neighbour), mapindex_(start) {}

    int FindNextMap(const QString& directio)
    {
        const auto next = neighbour_(mapindex_, directio);
        if (!next) {
            return -1;
        }
        mapindex_ = *next;
        return *next;
    }
    void moveTo(int position) { mapindex_ = position; }

private:
    const NeighbourChoice& neighbour_;
    int mapindex_;
};

} // namespace

int startPosition(const tramsel::TileList& tiles)
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

std::vector<Placement> planGrid(const tramsel::TileList& tiles)
{
    return walkGrid(tiles.count(), startPosition(tiles),
                    [&tiles](int current, const QString& directio) {
                        return tiles.neighbour(current, directio);
                    });
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
    int next = 0;
    const QString east = QStringLiteral("E");
    while (next != -1) {
        next = walker.FindNextMap(east);
        if (next == -1) {
            walker.moveTo(start);
            ++row;
            for (int step = 0; step < row; ++step) {
                walker.FindNextMap(QStringLiteral("S"));
            }
            walker.FindNextMap(east);
            next = walker.FindNextMap(QStringLiteral("W"));
            column = -1;
            if (next == -1) {
                break;
            }
        }
        ++column;
        ++element;
        placements.push_back({element, next, column, row});
        if (element == count - 1) {
            break;
        }
    }
    return placements;
}

} // namespace brontile
