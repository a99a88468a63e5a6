#include "common/tilefolder.h"
#include "pelagrin/corridor.h"
#include "pelagrin/sphere.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using namespace pelagrin;
using common::Centre;
using common::GeoBox;

// The distances against a fine sampling of the arc and of the box.
struct DistanceCase {
    const char* name;
    Centre a;
    Centre b;
    GeoBox box;
};

class SphereDistances : public ::testing::TestWithParam<DistanceCase> {};

TEST_P(SphereDistances, MatchFineSampling)
{
    const auto& c = GetParam();
    double sampled = HUGE_VAL;
    constexpr int steps = 400;
    for (int i = 0; i <= steps; ++i) {
        const Centre p = alongArc(c.a, c.b, double(i) / steps);
        sampled = std::min(sampled, pointToBoxKm(p, c.box));
        // The point's own distance, against points spread over the box.
        if (i % 100 == 0) {
            double grid = HUGE_VAL;
            for (int u = 0; u <= 60; ++u) {
                for (int v = 0; v <= 60; ++v) {
                    const Centre q{c.box.south + c.box.height() * u / 60,
                                   c.box.west + (c.box.east - c.box.west) * v / 60};
                    grid = std::min(grid, distanceKm(p, q));
                }
            }
            EXPECT_LE(pointToBoxKm(p, c.box), grid + 1e-6);
            EXPECT_NEAR(pointToBoxKm(p, c.box), grid, 0.02 * grid + 2);
        }
    }
    const double exact = segmentToBoxKm(c.a, c.b, c.box);
    EXPECT_LE(exact, sampled + 1e-6);
    EXPECT_NEAR(exact, sampled, 0.002 * sampled + 0.5);
}

INSTANTIATE_TEST_SUITE_P(
    Arcs, SphereDistances,
    ::testing::Values(
        DistanceCase{
            "through", {46, 8}, {48, 11}, {.west = 9, .south = 46.5, .east = 10, .north = 47.5}},
        DistanceCase{
            "north_of_it", {49, 8}, {49.2, 12}, {.west = 9, .south = 46, .east = 10, .north = 47}},
        // Along a parallel the great circle bulges poleward: its nearest point is inside.
        DistanceCase{
            "bulging", {60, -40}, {60, 40}, {.west = -5, .south = 60.5, .east = 5, .north = 61}},
        DistanceCase{"beside_a_meridian",
                     {40, 20},
                     {50, 20.5},
                     {.west = 10, .south = 42, .east = 15, .north = 48}},
        DistanceCase{"across_180",
                     {-16, 178},
                     {-17, -178},
                     {.west = 179.5, .south = -18, .east = 180.5, .north = -17.2}},
        DistanceCase{
            "near_the_pole", {85, 0}, {85, 90}, {.west = 50, .south = 86, .east = 60, .north = 87}},
        DistanceCase{
            "one_place", {10, 10}, {10, 10}, {.west = 11, .south = 8, .east = 12, .north = 9}}),
    [](const auto& info) { return std::string(info.param.name); });

// A route's corridor against every tile of the grid measured against every segment.
struct CorridorCase {
    const char* name;
    double zoom;
    double widthKm;
    std::vector<std::vector<Centre>> lines;
};

std::vector<qint64> bruteForce(const RegionPlan& plan, const Route& route, double widthKm)
{
    std::vector<qint64> near;
    for (qint64 position = 0; position < plan.tilecount(); ++position) {
        const GeoBox box = plan.tileBox(position);
        for (const auto& line : route.lines) {
            bool found = line.size() == 1 && pointToBoxKm(line[0], box) <= widthKm / 2;
            for (std::size_t i = 1; i < line.size() && !found; ++i) {
                found = segmentToBoxKm(line[i - 1], line[i], box) <= widthKm / 2;
            }
            if (found) {
                near.push_back(position);
                break;
            }
        }
    }
    return near;
}

RegionPlan planFor(double zoom, const Corners& c)
{
    MapSettings s;
    s.zoom = zoom;
    s.beginlat = c.beginlat;
    s.beginlong = c.beginlong;
    s.endlat = c.endlat;
    s.endlong = c.endlong;
    return planRegion(s, zoom / 45, zoom / 45, QStringLiteral("127.0.0.1:1"),
                      common::TileFolder(QStringLiteral("mymaps")))
        .value();
}

class Corridors : public ::testing::TestWithParam<CorridorCase> {};

TEST_P(Corridors, HoldExactlyTheTilesWithinHalfTheWidthAndLoseNoEdge)
{
    const auto& c = GetParam();
    const Route route = continuousRoute(Route{c.lines, 0});
    const RegionSteps steps{c.zoom / 45, c.zoom / 45};
    const Corners corners = routeCorners(route, c.widthKm, c.zoom, steps);
    const RegionPlan plan = planFor(c.zoom, corners);
    const auto got = corridorTiles(plan, route, c.widthKm);
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got, bruteForce(plan, route, c.widthKm));

    // Three steps more on every side hold no tile near the route that the grid left out.
    const double more = 3 * steps.latitude;
    const RegionPlan wider = planFor(c.zoom, {corners.beginlat + more, corners.beginlong - more,
                                              corners.endlat - more, corners.endlong + more});
    for (const qint64 position : bruteForce(wider, route, c.widthKm)) {
        const GeoBox box = wider.tileBox(position);
        const double lat = (box.south + box.north) / 2;
        const double lon = (box.west + box.east) / 2;
        EXPECT_GE(lat, plan.latitudes().front()) << position;
        EXPECT_LE(lat, plan.latitudes().back() + 2 * centreShift) << position;
        EXPECT_GE(lon, plan.longitudes().front()) << position;
        EXPECT_LE(lon, plan.longitudes().back() + 2 * centreShift) << position;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Routes, Corridors,
    ::testing::Values(
        CorridorCase{"straight", 4.5, 2, {{{47.0, 9.0}, {47.3, 9.8}}}},
        CorridorCase{"zigzag",
                     4.5,
                     2,
                     {{{47.0, 9.0}, {47.2, 9.1}, {47.0, 9.25}, {47.25, 9.4}, {47.05, 9.6}}}},
        CorridorCase{
            "loop", 4.5, 2, {{{47.0, 9.0}, {47.2, 9.3}, {47.0, 9.6}, {46.8, 9.3}, {47.0, 9.0}}}},
        CorridorCase{"across_180", 9, 5, {{{-16.5, 178.8}, {-16.7, 179.7}, {-16.9, -179.2}}}},
        CorridorCase{"at_80_north", 9, 2, {{{80.0, 10}, {80.3, 17}, {80.1, 25}}}},
        CorridorCase{"near_the_pole", 9, 2, {{{89.5, 0}, {89.5, 90}}}},
        CorridorCase{"one_point", 4.5, 3, {{{47.6, 9.4}}}},
        CorridorCase{"two_lines", 4.5, 2, {{{47.0, 9.0}, {47.1, 9.2}}, {{47.4, 9.5}, {47.5, 9.6}}}},
        CorridorCase{"width_0_1", 0.45, 0.1, {{{47.0, 9.0}, {47.02, 9.03}}}},
        CorridorCase{"width_100", 45, 100, {{{45.0, 5.0}, {48.0, 12.0}}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ContinuousRoute, RunsOnAcross180AndLiesEastOfMinus180)
{
    const Route route = continuousRoute(Route{{{{10, -179}, {10, 179}}, {{11, 178}}}, 0});
    ASSERT_EQ(route.lines.size(), 2U);
    EXPECT_DOUBLE_EQ(route.lines[0][0].longitude, 181);
    EXPECT_DOUBLE_EQ(route.lines[0][1].longitude, 179);
    EXPECT_DOUBLE_EQ(route.lines[1][0].longitude, 178);
}

} // namespace
