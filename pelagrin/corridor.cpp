#include "pelagrin/corridor.h"

#include "pelagrin/corners.h"
#include "pelagrin/requesturl.h"
#include "pelagrin/sphere.h"

#include <algorithm>
#include <cmath>
#include <span>
#include <unordered_set>

namespace pelagrin {

namespace {

constexpr double radians = 3.14159265358979323846 / 180;

// The most degrees of longitude a place within |degrees| (of a great circle) of a place between
// the latitudes |south| and |north| lies east or west of it: asin(sin d / cos lat) at the
// latitude farthest from the equator; a full turn where the distance reaches a pole.
double longitudeSpan(double degrees, double south, double north)
{
    const double c = std::cos(std::max(std::abs(south), std::abs(north)) * radians);
    const double s = std::sin(std::min(90.0, degrees) * radians);
    return c > 1e-9 && s < c ? std::asin(s / c) / radians + 1e-9 : 360.0;
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
    const double turn = west < -180   ? 360 * std::ceil((-180 - west) / 360)
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
            box = box.united({.west = c.longitude,
                              .south = c.latitude,
                              .east = c.longitude,
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
    const auto& latitudes = plan.latitudes();
    const auto& longitudes = plan.longitudes();
    const auto columns = static_cast<qint64>(longitudes.size());
    const double halfTile = std::abs(common::degreesPerPixel(plan.zoom())) * largeSide / 2;
    // A long segment is taken in pieces no longer than a tile or the width, so that the tiles
    // looked at stay near it; short ones are taken together, a stretch of the route at a time.
    const double pieceKm = std::max({2 * halfTile * kmPerDegree, widthKm, 0.001});
    const double stretchKm = std::min(pieceKm / 4, reach / 8);

    std::unordered_set<qint64> near;
    // The tiles near the stretch |places| (segments between consecutive places, or one place),
    // all of which lie within |radius| km of the first.
    const auto look = [&](std::span<const common::Centre> places, double radius) {
        const common::Centre& a = places.front();
        const double span = (radius + reach) / kmPerDegree;
        const double south = std::max(-90.0, a.latitude - span);
        const double north = std::min(90.0, a.latitude + span);
        const double widen = longitudeSpan(span, south, north);
        const auto rows = reaching(latitudes, south, north, halfTile);
        const bool everyColumn = widen >= 180;
        for (const double turn : {0.0, -360.0, 360.0}) {
            const auto cols = everyColumn
                                  ? std::pair<std::size_t, std::size_t>{0, longitudes.size()}
                                  : reaching(longitudes, a.longitude - widen + turn,
                                             a.longitude + widen + turn, halfTile);
            for (std::size_t row = rows.first; row < rows.second; ++row) {
                for (std::size_t column = cols.first; column < cols.second; ++column) {
                    const qint64 position =
                        static_cast<qint64>(row) * columns + static_cast<qint64>(column);
                    if (near.contains(position)) {
                        continue;
                    }
                    const common::GeoBox box = plan.tileBox(position);
                    const double fromA = pointToBoxKm(a, box);
                    bool within = fromA <= reach;
                    // Every place of the stretch lies within |radius| of |a|.
                    for (std::size_t i = 1; !within && fromA - radius <= reach && i < places.size();
                         ++i) {
                        within = segmentToBoxKm(places[i - 1], places[i], box) <= reach;
                    }
                    if (within) {
                        near.insert(position);
                    }
                }
            }
            if (everyColumn) {
                break;
            }
        }
    };
    std::vector<common::Centre> places;
    for (const auto& line : route.lines) {
        // The line with places added along its long segments.
        places.clear();
        for (std::size_t i = 0; i < line.size(); ++i) {
            // The cheap bound of the stretches below first: most segments are short.
            if (i > 0 && (std::abs(line[i].latitude - line[i - 1].latitude) +
                          std::abs(line[i].longitude - line[i - 1].longitude)) *
                                 kmPerDegree >
                             pieceKm) {
                const auto pieces =
                    static_cast<int>(std::ceil(distanceKm(line[i - 1], line[i]) / pieceKm));
                for (int piece = 1; piece < pieces; ++piece) {
                    places.push_back(alongArc(line[i - 1], line[i], double(piece) / pieces));
                }
            }
            places.push_back(line[i]);
        }
        // Stretches of places within |stretchKm| of their first, by a bound that needs no
        // trigonometry: no great circle is longer than a way along a meridian and the equator.
        std::size_t first = 0;
        while (first < places.size()) {
            std::size_t last = first;
            double radius = 0;
            while (last + 1 < places.size()) {
                const double bound =
                    (std::abs(places[last + 1].latitude - places[first].latitude) +
                     std::abs(places[last + 1].longitude - places[first].longitude)) *
                    kmPerDegree;
                if (bound > stretchKm && last > first) {
                    break;
                }
                radius = std::max(radius, bound);
                ++last;
            }
            look(std::span(places).subspan(first, last - first + 1), radius);
            if (last + 1 >= places.size()) {
                break;
            }
            first = last;
        }
    }
    std::vector<qint64> positions(near.begin(), near.end());
    std::sort(positions.begin(), positions.end());
    return positions;
}

} // namespace pelagrin
