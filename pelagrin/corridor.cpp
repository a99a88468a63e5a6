#include "pelagrin/corridor.h"

#include "pelagrin/corners.h"
#include "pelagrin/requesturl.h"
#include "pelagrin/sphere.h"

#include <algorithm>
#include <cmath>
#include <unordered_set>

namespace pelagrin {

namespace {

constexpr double radians = 3.14159265358979323846 / 180;

// How many degrees of longitude |degrees| of latitude span at the latitudes |south| to |north|;
// a full turn where that reaches a pole.
double longitudeSpan(double degrees, double south, double north)
{
    const double c = std::cos(std::max(std::abs(south), std::abs(north)) * radians);
    return c > 1e-9 ? std::min(360.0, degrees / c) : 360.0;
}

// The indices of |axis|'s tiles (centres half a tile from their edges) that reach into
// |low|..|high|, as a half-open range; every index when the axis does not ascend.
std::pair<std::size_t, std::size_t> reaching(const std::vector<double>& axis, double low,
                                             double high, double half)
{
    if (!std::is_sorted(axis.begin(), axis.end())) {
        return {0, axis.size()};
    }
    constexpr double slack = 1e-6; // the centres' shift and rounding
    const auto first = std::lower_bound(axis.begin(), axis.end(), low - half - slack);
    const auto last = std::upper_bound(first, axis.end(), high + half + slack);
    return {static_cast<std::size_t>(first - axis.begin()),
            static_cast<std::size_t>(last - axis.begin())};
}

} // namespace

Route continuousRoute(const Route& route)
{
    Route out;
    out.skipped = route.skipped;
    out.lines.reserve(route.lines.size());
    std::optional<double> anchor;
    double west = HUGE_VAL;
    for (const auto& line : route.lines) {
        std::vector<common::Centre> places;
        places.reserve(line.size());
        for (common::Centre c : line) {
            if (!places.empty()) {
                c.longitude += 360 * std::round((places.back().longitude - c.longitude) / 360);
            }
            places.push_back(c);
        }
        if (places.empty()) {
            continue;
        }
        // The whole line by whole turns next to the first line.
        const double turn =
            anchor ? 360 * std::round((*anchor - places.front().longitude) / 360) : 0;
        anchor = anchor.value_or(places.front().longitude);
        for (common::Centre& c : places) {
            c.longitude += turn;
            west = std::min(west, c.longitude);
        }
        out.lines.push_back(std::move(places));
    }
    const double turn = west < -180 ? 360 * std::ceil((-180 - west) / 360)
                        : west >= 180 ? -360 * std::floor((west + 180) / 360)
                                      : 0;
    for (auto& line : out.lines) {
        for (common::Centre& c : line) {
            c.longitude += turn;
        }
    }
    return out;
}

Corners routeCorners(const Route& route, double widthKm, double zoom, const RegionSteps& steps)
{
    common::GeoBox box{.west = HUGE_VAL, .south = HUGE_VAL, .east = -HUGE_VAL, .north = -HUGE_VAL};
    for (const auto& line : route.lines) {
        for (const common::Centre& c : line) {
            box = box.united({.west = c.longitude, .south = c.latitude, .east = c.longitude,
                              .north = c.latitude});
        }
    }
    const double half = widthKm / 2 / kmPerDegree;
    box.south = std::max(-90.0, box.south - half);
    box.north = std::min(90.0, box.north + half);
    const double widen = longitudeSpan(half, box.south, box.north);
    if (box.east - box.west + 2 * widen >= 360) {
        const double middle = (box.west + box.east) / 2;
        box.west = middle - 180;
        box.east = middle + 180;
    } else {
        box.west -= widen;
        box.east += widen;
    }
    return {.beginlat = cornerValue(box.north, zoom) + steps.latitude,
            .beginlong = cornerValue(box.west, zoom),
            .endlat = cornerValue(box.south, zoom),
            .endlong = cornerValue(box.east, zoom) + steps.longitude};
}

std::vector<qint64> corridorTiles(const RegionPlan& plan, const Route& route, double widthKm)
{
    const double reach = widthKm / 2;
    const double reachDegrees = reach / kmPerDegree;
    const auto& latitudes = plan.latitudes();
    const auto& longitudes = plan.longitudes();
    const auto columns = static_cast<qint64>(longitudes.size());
    const double halfTile = std::abs(common::degreesPerPixel(plan.zoom())) * largeSide / 2;
    // A long segment is taken in pieces no longer than a tile or the width, so that the tiles
    // looked at stay near it.
    const double pieceKm = std::max({2 * halfTile * kmPerDegree, widthKm, 0.001});

    std::unordered_set<qint64> near;
    const auto look = [&](const common::Centre& a, const common::Centre& b) {
        auto [south, north] = arcLatitudes(a, b);
        south = std::max(-90.0, south - reachDegrees);
        north = std::min(90.0, north + reachDegrees);
        const double widen = longitudeSpan(reachDegrees, south, north);
        const double west = std::min(a.longitude, b.longitude) - widen;
        const double east = std::max(a.longitude, b.longitude) + widen;
        const auto rows = reaching(latitudes, south, north, halfTile);
        const double length = distanceKm(a, b);
        const bool everyColumn = widen >= 180;
        for (const double turn : {0.0, -360.0, 360.0}) {
            const auto cols = everyColumn ? std::pair<std::size_t, std::size_t>{0, longitudes.size()}
                                          : reaching(longitudes, west + turn, east + turn, halfTile);
            for (std::size_t row = rows.first; row < rows.second; ++row) {
                for (std::size_t column = cols.first; column < cols.second; ++column) {
                    const qint64 position = static_cast<qint64>(row) * columns +
                                            static_cast<qint64>(column);
                    if (near.contains(position)) {
                        continue;
                    }
                    const common::GeoBox box = plan.tileBox(position);
                    // From |a|, every place of the segment lies within its length.
                    const double fromA = pointToBoxKm(a, box);
                    if (fromA <= reach ||
                        (fromA - length <= reach && segmentToBoxKm(a, b, box) <= reach)) {
                        near.insert(position);
                    }
                }
            }
            if (everyColumn) {
                break;
            }
        }
    };
    for (const auto& line : route.lines) {
        if (line.size() == 1) {
            look(line.front(), line.front());
        }
        for (std::size_t i = 1; i < line.size(); ++i) {
            const common::Centre& a = line[i - 1];
            const common::Centre& b = line[i];
            const auto pieces = static_cast<int>(std::ceil(distanceKm(a, b) / pieceKm));
            common::Centre from = a;
            for (int piece = 1; piece <= pieces; ++piece) {
                const common::Centre to = piece == pieces ? b : alongArc(a, b, double(piece) / pieces);
                look(from, to);
                from = to;
            }
            if (pieces == 0) {
                look(a, b);
            }
        }
    }
    std::vector<qint64> positions(near.begin(), near.end());
    std::sort(positions.begin(), positions.end());
    return positions;
}

} // namespace pelagrin
