#pragma once

// A box on the map in degrees, bounded by two meridians and two parallels. Plain C++, shared by
// the service, the exporter and the downloader. Filled by name, never by position:
// GeoBox{.west = w, .south = s, .east = e, .north = n}.
#include <algorithm>

namespace common {

struct GeoBox {
    double west = 0;
    double south = 0;
    double east = 0;
    double north = 0;

    // Whether the box runs across 180 degrees, given with longitudes within -180..180: its west
    // edge then lies east of its east edge.
    bool crosses180() const { return west > east; }
    // Degrees from the west edge east to the east edge, across 180 too.
    double width() const { return crosses180() ? east + 360 - west : east - west; }
    double height() const { return north - south; }

    // The smallest box holding both, on one continuous range of longitudes (neither across
    // 180 degrees in the -180..180 sense).
    GeoBox united(const GeoBox& other) const
    {
        return {.west = std::min(west, other.west),
                .south = std::min(south, other.south),
                .east = std::max(east, other.east),
                .north = std::max(north, other.north)};
    }
};

} // namespace common
