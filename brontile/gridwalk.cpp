#include "brontile/gridwalk.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>

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
    std::vector<Placement> walked = walkTiles(tiles);
    std::vector<Placement> laid = layByCoordinates(tiles);
    return walked == laid ? walked : laid;
}

std::vector<Placement> layByCoordinates(const common::TileList& tiles)
{
    const auto east = [](double longitude) {
        const double turned = std::fmod(longitude, 360.0);
        return turned < 0 ? turned + 360.0 : turned;
    };
    std::vector<double> latitudes;
    std::vector<double> longitudes;
    for (int i = 0; i < tiles.count(); ++i) {
        if (const auto& here = tiles.coordinates(i)) {
            latitudes.push_back(here->latitude);
            longitudes.push_back(east(here->longitude));
        }
    }
    std::sort(latitudes.begin(), latitudes.end(), std::greater<>());
    latitudes.erase(std::unique(latitudes.begin(), latitudes.end()), latitudes.end());
    std::sort(longitudes.begin(), longitudes.end());
    longitudes.erase(std::unique(longitudes.begin(), longitudes.end()), longitudes.end());
    // The first column lies east of the widest gap, the one across the ends included.
    std::size_t first = 0;
    double widest = -1;
    for (std::size_t i = 0; i < longitudes.size(); ++i) {
        const double gap = i == 0 ? longitudes.front() + 360.0 - longitudes.back()
                                  : longitudes[i] - longitudes[i - 1];
        if (gap > widest) {
            widest = gap;
            first = i;
        }
    }
    const auto indexIn = [](const std::vector<double>& values, double value, auto order) {
        return static_cast<int>(std::lower_bound(values.begin(), values.end(), value, order) -
                                values.begin());
    };
    const int columns = static_cast<int>(longitudes.size());
    std::map<std::pair<int, int>, int> cells; // (row, column) to position
    for (int i = 0; i < tiles.count(); ++i) {
        if (const auto& here = tiles.coordinates(i)) {
            const int row = indexIn(latitudes, here->latitude, std::greater<>());
            const int column = (indexIn(longitudes, east(here->longitude), std::less<>()) -
                                static_cast<int>(first) + columns) %
                               columns;
            cells.try_emplace({row, column}, i);
        }
    }
    std::vector<Placement> placements;
    placements.reserve(cells.size());
    for (const auto& [cell, position] : cells) {
        placements.push_back(
            {static_cast<int>(placements.size()), position, cell.second, cell.first});
    }
    return placements;
}

std::vector<int> leftOut(const common::TileList& tiles, const std::vector<Placement>& placements)
{
    std::vector<bool> shown(static_cast<std::size_t>(tiles.count()), false);
    for (const Placement& placement : placements) {
        shown[static_cast<std::size_t>(placement.position)] = true;
    }
    std::vector<int> out;
    for (int i = 0; i < tiles.count(); ++i) {
        if (!shown[static_cast<std::size_t>(i)] && tiles.coordinates(i)) {
            out.push_back(i);
        }
    }
    return out;
}

std::vector<Placement> walkTiles(const common::TileList& tiles)
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
