#pragma once

#include "common/tilefolder.h"
#include "common/tilegeometry.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

// The tile list of the viewers (Tramsel and Brontile): the names of a tile folder, each read once,
// and the neighbour search over them.
namespace common {

// The ways to step from a tile: north is greater latitude, east greater longitude.
enum class Direction { North, South, East, West };

// The direction a letter names: "N", "S", "E" or "W", exact upper case; nothing for anything
// else.
std::optional<Direction> directionOfLetter(const QString& letter);

// The centre written in a tile file name (without folder), or nothing when the name is no
// tile name. Zoom and map letter play no part in finding neighbours.
std::optional<Centre> calcjad(const QString& name);

// The names of the tiles in list order, each read once.
class TileList {
public:
    TileList() = default;
    explicit TileList(QStringList names);

    // The tile images of |folder|.
    static TileList fromFolder(const common::TileFolder& folder);

    int count() const { return static_cast<int>(names_.size()); }
    const QString& name(int position) const { return names_[position]; }
    const std::optional<Centre>& coordinates(int position) const
    {
        return coordinates_[static_cast<std::size_t>(position)];
    }

    // Position of the first name in list order that is a tile name, or nothing.
    std::optional<int> firstTile() const;

    // The neighbour of the tile at |current| in direction |way|: of the tiles on the same
    // longitude (north, south) or latitude (east, west), compared exactly as numbers, the
    // nearest strictly beyond the current one, the first in list order among equally near
    // ones. Nothing when there is none; a name that is no tile name never qualifies.
    std::optional<int> neighbour(int current, Direction way) const;

private:
    QStringList names_;
    std::vector<std::optional<Centre>> coordinates_;
};

} // namespace common
