#include "common/tilelist.h"

#include "common/tilefolder.h"
#include "common/tilenamereader.h"

namespace common {

namespace {

// How far |entry| lies from |current| in |way|, or nothing when it does not qualify.
std::optional<double> distance(Direction way, const Centre& current, const Centre& entry)
{
    switch (way) {
    case Direction::North:
        if (entry.latitude > current.latitude && entry.longitude == current.longitude) {
            return entry.latitude - current.latitude;
        }
        break;
    case Direction::South:
        if (entry.latitude < current.latitude && entry.longitude == current.longitude) {
            return current.latitude - entry.latitude;
        }
        break;
    case Direction::East:
        if (entry.longitude > current.longitude && entry.latitude == current.latitude) {
            return entry.longitude - current.longitude;
        }
        break;
    case Direction::West:
        if (entry.longitude < current.longitude && entry.latitude == current.latitude) {
            return current.longitude - entry.longitude;
        }
        break;
    }
    return std::nullopt;
}

} // namespace

std::optional<Direction> directionOfLetter(const QString& letter)
{
    if (letter == u"N") {
        return Direction::North;
    }
    if (letter == u"S") {
        return Direction::South;
    }
    if (letter == u"E") {
        return Direction::East;
    }
    if (letter == u"W") {
        return Direction::West;
    }
    return std::nullopt;
}

std::optional<Centre> calcjad(const QString& name)
{
    const auto centre = common::readTileName(name);
    if (!centre) {
        return std::nullopt;
    }
    return Centre{centre->latitude, centre->longitude};
}

TileList::TileList(QStringList names) : names_(std::move(names))
{
    coordinates_.reserve(static_cast<std::size_t>(names_.size()));
    for (const QString& name : names_) {
        coordinates_.push_back(calcjad(name));
    }
}

TileList TileList::fromFolder(const common::TileFolder& folder)
{
    return TileList(folder.tileImages());
}

std::optional<int> TileList::firstTile() const
{
    for (int i = 0; i < count(); ++i) {
        if (coordinates(i)) {
            return i;
        }
    }
    return std::nullopt;
}

std::optional<int> TileList::neighbour(int current, Direction way) const
{
    if (current < 0 || current >= count() || !coordinates(current)) {
        return std::nullopt;
    }
    const Centre here = *coordinates(current);
    std::optional<int> best;
    double bestDistance = 0;
    for (int i = 0; i < count(); ++i) {
        if (!coordinates(i)) {
            continue;
        }
        const auto d = distance(way, here, *coordinates(i));
        if (d && (!best || *d < bestDistance)) {
            best = i;
            bestDistance = *d;
        }
    }
    return best;
}

} // namespace common
