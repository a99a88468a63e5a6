#pragma once

// Distances on the sphere between a route's pieces and a tile's box, for the region along a
// route. Plain C++: no Qt.
#include "common/geobox.h"
#include "common/tilegeometry.h"

#include <utility>

namespace pelagrin {

// The mean radius of the Earth.
constexpr double earthRadiusKm = 6371.0088;
// Kilometres per degree along a meridian.
constexpr double kmPerDegree = earthRadiusKm * 3.14159265358979323846 / 180;

// The great-circle distance between two places.
double distanceKm(const common::Centre& a, const common::Centre& b);

// The distance from |p| to the nearest point of |box| (0 inside it). The box is bounded by two
// meridians and two parallels; its west edge may lie east of 180 (west 170, east 190), but it is
// at most 360 degrees wide.
double pointToBoxKm(const common::Centre& p, const common::GeoBox& box);

// The distance from |p| to the nearest point of the shorter great-circle arc from |a| to |b|.
double pointToSegmentKm(const common::Centre& p, const common::Centre& a, const common::Centre& b);

// The distance between the shorter great-circle arc from |a| to |b| and |box| (0 where they
// meet). Exact for boxes up to 120 degrees wide and arcs shorter than 180 degrees.
double segmentToBoxKm(const common::Centre& a, const common::Centre& b, const common::GeoBox& box);

// The place |t| (0 to 1) of the way along the shorter great-circle arc from |a| to |b|, its
// longitude within 180 degrees of |a|'s.
common::Centre alongArc(const common::Centre& a, const common::Centre& b, double t);

// The latitudes the shorter great-circle arc from |a| to |b| reaches, south and north.
std::pair<double, double> arcLatitudes(const common::Centre& a, const common::Centre& b);

} // namespace pelagrin
