#pragma once

#include "common/tilefolder.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace tramsel {

// A tile's centre as its file name tells it, in decimal degrees.
struct Coordinates {
    double latitude = 0;
    double longitude = 0;
};

// The ways to step from a tile: north is greater latitude, east greater longitude.
enum class Direction { North, South, East, West };

// The direction a letter names: "N", "S", "E" or "W", exact upper case; nothing for anything
// else.
std::optional<Direction> directionOfLetter(const QString& letter);

// The centre written in a tile file name (without folder), or nothing when the name is no
// tile name. Zoom and map letter play no part in finding neighbours.
std::optional<Coordinates> calcjad(const QString& name);

// The tile list of a viewer: the names of the tiles in list order, each read once.
class TileList {
public:
    TileList() = default;
    explicit TileList(QStringList names);

    // The tile images of |folder|.
    static TileList fromFolder(const common::TileFolder& folder);

    int count() const { return static_cast<int>(names_.size()); }
    const QString& name(int position) const { return names_[position]; }
    const std::optional<Coordinates>& coordinates(int position) const
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
    std::vector<std::optional<Coordinates>> coordinates_;
};

} // namespace tramsel
