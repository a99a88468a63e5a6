#pragma once

// The region along a route: the tiles of a grid that come within half a width of the route.
#include "pelagrin/corners.h"
#include "pelagrin/region.h"
#include "pelagrin/route.h"

#include <vector>

namespace pelagrin {

// The width of a route's region, in km.
constexpr double defaultRouteWidthKm = 2;
constexpr double minRouteWidthKm = 0.1;
constexpr double maxRouteWidthKm = 100;

// |route| with every line's longitudes made continuous (no jump of more than 180 degrees from
// one place to the next) and its lines moved by whole turns next to the first, the whole lying
// east of -180: a route across 180 degrees runs on past 180 (170 to 190).
Route continuousRoute(const Route& route);

// The corners "Set to Begin Region" and "Set to End Region" would set at |zoom| for the box of
// the continuous |route| widened by half of |widthKm| on every side (the latitudes held within
// -90..90, at most one turn of longitude), then extended by |steps| north and east, so that the
// rounding of the corners loses no edge.
Corners routeCorners(const Route& route, double widthKm, double zoom, const RegionSteps& steps);

// The positions of |plan|'s tiles whose box comes within half of |widthKm| of a line of the
// continuous |route| (distance on the sphere to the nearest segment, or to a line's only point),
// in plan order.
std::vector<qint64> corridorTiles(const RegionPlan& plan, const Route& route, double widthKm);

} // namespace pelagrin
