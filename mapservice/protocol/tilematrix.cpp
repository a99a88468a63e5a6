#include "mapservice/protocol/tilematrix.h"

#include <ogr_srs_api.h>

#include <algorithm>
#include <cmath>
#include <memory>

namespace mapservice {

namespace {

constexpr std::int64_t largestMatrix = std::int64_t{1} << 31; // tiles a side

// A spatial reference read from |text| (WKT, "EPSG:n", a URN ...), x east and y north.
using Srs = std::unique_ptr<std::remove_pointer_t<OGRSpatialReferenceH>,
                            decltype(&OSRDestroySpatialReference)>;
Srs readSrs(const std::string& text)
{
    Srs srs(OSRNewSpatialReference(nullptr), &OSRDestroySpatialReference);
    if (OSRSetFromUserInput(srs.get(), text.c_str()) != OGRERR_NONE) {
        return Srs(nullptr, &OSRDestroySpatialReference);
    }
    OSRSetAxisMappingStrategy(srs.get(), OAMS_TRADITIONAL_GIS_ORDER);
    return srs;
}

using Transform = std::unique_ptr<std::remove_pointer_t<OGRCoordinateTransformationH>,
                                  decltype(&OCTDestroyCoordinateTransformation)>;

struct Point {
    double x, y;
};

// The part of the world, in degrees, that each world copy in the picture shows, cut to the
// grid's bounds; the same part once.
std::vector<common::GeoBox> worldParts(const TileGrid& grid, const Geometry& g)
{
    std::vector<common::GeoBox> parts;
    const double west = g.lonAt(0);
    const double east = g.lonAt(g.width);
    if (east - west > 360 * maxWorldsAcross) {
        return parts;
    }
    common::GeoBox limit{.west = -180, .south = -90, .east = 180, .north = 90};
    if (grid.bounds && !grid.bounds->crosses180()) {
        limit = {.west = std::max(-180.0, grid.bounds->west),
                 .south = std::max(-90.0, grid.bounds->south),
                 .east = std::min(180.0, grid.bounds->east),
                 .north = std::min(90.0, grid.bounds->north)};
    }
    const double north = std::min(limit.north, g.latAt(0));
    const double south = std::max(limit.south, g.latAt(g.height));
    const auto firstWorld = static_cast<long>(std::floor((west + 180) / 360));
    const auto lastWorld = static_cast<long>(std::floor((east + 180) / 360));
    for (long world = firstWorld; world <= lastWorld && north > south; ++world) {
        const double shift = 360.0 * static_cast<double>(world);
        const double a = std::max(west - shift, limit.west);
        const double b = std::min(east - shift, limit.east);
        const common::GeoBox part{.west = a, .south = south, .east = b, .north = north};
        const bool seen = std::any_of(parts.begin(), parts.end(), [&](const common::GeoBox& p) {
            return p.west == a && p.east == b;
        });
        if (b - a > 0 && !seen) {
            parts.push_back(part);
        }
    }
    return parts;
}

// |part|'s outline, sampled along its edges, and its middle, in the grid's CRS; the points that
// cannot be transformed (beyond a projection's reach) are left out.
std::vector<Point> outline(OGRCoordinateTransformationH toGrid, const common::GeoBox& part)
{
    constexpr int perEdge = 16;
    std::vector<double> xs;
    std::vector<double> ys;
    for (int i = 0; i <= perEdge; ++i) {
        const double f = static_cast<double>(i) / perEdge;
        const double lon = part.west + f * (part.east - part.west);
        const double lat = part.south + f * (part.north - part.south);
        for (const auto& [x, y] : {std::pair{lon, part.north}, std::pair{lon, part.south},
                                   std::pair{part.west, lat}, std::pair{part.east, lat}}) {
            xs.push_back(x);
            ys.push_back(y);
        }
    }
    xs.push_back((part.west + part.east) / 2);
    ys.push_back((part.south + part.north) / 2);
    std::vector<int> ok(xs.size(), 0);
    OCTTransformEx(toGrid, static_cast<int>(xs.size()), xs.data(), ys.data(), nullptr, ok.data());
    std::vector<Point> points;
    for (std::size_t i = 0; i < xs.size(); ++i) {
        if (ok[i] != 0 && std::isfinite(xs[i]) && std::isfinite(ys[i])) {
            points.push_back({xs[i], ys[i]});
        }
    }
    return points;
}

// The size of the picture's pixels in grid units at the middle of |part|: the geometric mean
// of a pixel's two sides there; nothing where the grid's CRS does not reach.
std::optional<double> pixelSize(OGRCoordinateTransformationH toGrid, const common::GeoBox& part,
                                double degreesPerPixel)
{
    const double lon = (part.west + part.east) / 2;
    const double lat = (part.south + part.north) / 2;
    double xs[3] = {lon, lon + degreesPerPixel, lon};
    double ys[3] = {lat, lat, lat + degreesPerPixel};
    int ok[3] = {0, 0, 0};
    OCTTransformEx(toGrid, 3, xs, ys, nullptr, ok);
    if (ok[0] == 0 || ok[1] == 0 || ok[2] == 0) {
        return std::nullopt;
    }
    const double area =
        std::abs((xs[1] - xs[0]) * (ys[2] - ys[0]) - (ys[1] - ys[0]) * (xs[2] - xs[0]));
    return area > 0 && std::isfinite(area) ? std::optional(std::sqrt(area)) : std::nullopt;
}

// The tiles of |m| under |points|, plus |ring| tiles all around, within the matrix's limits.
GridRange rangeOf(const TileMatrix& m, const std::vector<Point>& points, int ring)
{
    GridRange range;
    if (points.empty()) {
        return range;
    }
    double minX = points.front().x;
    double maxX = minX;
    double minY = points.front().y;
    double maxY = minY;
    for (const Point& p : points) {
        minX = std::min(minX, p.x);
        maxX = std::max(maxX, p.x);
        minY = std::min(minY, p.y);
        maxY = std::max(maxY, p.y);
    }
    const double tileX = m.resolution * m.tileWidth;
    const double tileY = m.resolution * m.tileHeight;
    // In doubles first: a far point must not overflow the tile numbers.
    const double west = std::floor((minX - m.left) / tileX) - ring;
    const double east = std::ceil((maxX - m.left) / tileX) - 1 + ring;
    const double north = std::floor((m.top - maxY) / tileY) - ring;
    const double south = std::ceil((m.top - minY) / tileY) - 1 + ring;
    const auto low = [](std::int64_t v) { return static_cast<double>(v); };
    if (east < low(m.minCol) || west > low(m.maxCol) || south < low(m.minRow) ||
        north > low(m.maxRow)) {
        return range; // the outline misses the matrix
    }
    range.west = static_cast<std::int64_t>(std::max(west, low(m.minCol)));
    range.east = static_cast<std::int64_t>(std::min(east, low(m.maxCol)));
    range.north = static_cast<std::int64_t>(std::max(north, low(m.minRow)));
    range.south = static_cast<std::int64_t>(std::min(south, low(m.maxRow)));
    return range;
}

} // namespace

std::optional<bool> matrixOverBox(const std::string& crs, const TileMatrix& m,
                                  const common::GeoBox& box)
{
    const Srs wgs84 = readSrs("+proj=longlat +datum=WGS84 +no_defs");
    const Srs target = readSrs(crs);
    if (!target || !wgs84 || m.matrixWidth < 1 || m.matrixHeight < 1) {
        return std::nullopt;
    }
    const Transform toGrid(OCTNewCoordinateTransformation(wgs84.get(), target.get()),
                           &OCTDestroyCoordinateTransformation);
    const std::vector<Point> points = toGrid ? outline(toGrid.get(), box) : std::vector<Point>{};
    if (points.empty()) {
        return std::nullopt;
    }
    const auto [minX, maxX] = std::minmax_element(
        points.begin(), points.end(), [](const Point& a, const Point& b) { return a.x < b.x; });
    const auto [minY, maxY] = std::minmax_element(
        points.begin(), points.end(), [](const Point& a, const Point& b) { return a.y < b.y; });
    const double right = m.left + m.resolution * m.tileWidth * static_cast<double>(m.matrixWidth);
    const double bottom = m.top - m.resolution * m.tileHeight * static_cast<double>(m.matrixHeight);
    return m.left < maxX->x && right > minX->x && bottom < maxY->y && m.top > minY->y;
}

std::optional<std::string> settleGrid(TileGrid& grid)
{
    if (grid.matrices.empty()) {
        return "it has no tile matrix";
    }
    for (TileMatrix& m : grid.matrices) {
        const std::string which = "tile matrix " + m.id;
        if (!std::isfinite(m.resolution) || !std::isfinite(m.left) || !std::isfinite(m.top) ||
            m.resolution <= 0) {
            return which + " has a scale or corner that is no finite number";
        }
        // A size read as -1 was no whole number, or too large to be read as one.
        const auto count = [](std::int64_t n) {
            return n < 0 ? std::string("no whole number") : std::to_string(n);
        };
        if (m.tileWidth < 1 || m.tileHeight < 1 || m.tileWidth > 4096 || m.tileHeight > 4096) {
            return which + " has tiles of " + count(m.tileWidth) + " x " + count(m.tileHeight) +
                   " pixels";
        }
        if (m.matrixWidth < 1 || m.matrixHeight < 1 || m.matrixWidth > largestMatrix ||
            m.matrixHeight > largestMatrix) {
            return which + " is " + count(m.matrixWidth) + " x " + count(m.matrixHeight) +
                   " tiles, not 1 to 2^31 a side";
        }
        if (m.maxCol < m.minCol) {
            m.minCol = 0;
            m.maxCol = m.matrixWidth - 1;
        }
        if (m.maxRow < m.minRow) {
            m.minRow = 0;
            m.maxRow = m.matrixHeight - 1;
        }
        m.minCol = std::max<std::int64_t>(0, m.minCol);
        m.minRow = std::max<std::int64_t>(0, m.minRow);
        m.maxCol = std::min(m.matrixWidth - 1, m.maxCol);
        m.maxRow = std::min(m.matrixHeight - 1, m.maxRow);
    }
    std::stable_sort(
        grid.matrices.begin(), grid.matrices.end(),
        [](const TileMatrix& a, const TileMatrix& b) { return a.resolution > b.resolution; });
    return std::nullopt;
}

int parentMatrix(const TileGrid& grid, int matrix)
{
    if (matrix <= 0 || matrix >= static_cast<int>(grid.matrices.size())) {
        return -1;
    }
    const TileMatrix& fine = grid.matrices[static_cast<std::size_t>(matrix)];
    const TileMatrix& coarse = grid.matrices[static_cast<std::size_t>(matrix) - 1];
    const double tolerance = fine.resolution * 1e-3; // corners written with a few decimals
    const bool halves = std::abs(coarse.resolution / fine.resolution - 2) < 1e-6;
    const bool aligned = std::abs(coarse.left - fine.left) < tolerance &&
                         std::abs(coarse.top - fine.top) < tolerance &&
                         coarse.tileWidth == fine.tileWidth && coarse.tileHeight == fine.tileHeight;
    return halves && aligned ? matrix - 1 : -1;
}

common::Result<GridPlan> gridPlan(const TileGrid& grid, const Geometry& g, int finest,
                                  std::int64_t budgetBytes)
{
    const Srs wgs84 = readSrs("+proj=longlat +datum=WGS84 +no_defs");
    const Srs target = readSrs(grid.crs);
    if (!target || !wgs84) {
        return common::permanent("GDAL cannot read the grid's CRS", 502);
    }
    const Transform toGrid(OCTNewCoordinateTransformation(wgs84.get(), target.get()),
                           &OCTDestroyCoordinateTransformation);
    if (!toGrid) {
        return common::permanent("GDAL cannot transform into the grid's CRS", 502);
    }
    GridPlan plan;
    const std::vector<common::GeoBox> parts = worldParts(grid, g);
    plan.inLayer = grid.bounds.has_value() && !parts.empty();
    std::vector<std::vector<Point>> outlines;
    std::optional<double> pixel;
    for (const common::GeoBox& part : parts) {
        outlines.push_back(outline(toGrid.get(), part));
        if (const auto size = pixelSize(toGrid.get(), part, g.degreesPerPixel)) {
            pixel = std::min(pixel.value_or(*size), *size);
        }
    }
    if (!pixel) {
        return plan; // the picture shows nothing of the grid
    }
    // The ring around the picture stops at the layer's bounds too.
    std::vector<Point> bounds;
    if (grid.bounds && !grid.bounds->crosses180()) {
        const common::GeoBox& b = *grid.bounds;
        bounds = outline(toGrid.get(), {.west = std::max(-180.0, b.west),
                                        .south = std::max(-90.0, b.south),
                                        .east = std::min(180.0, b.east),
                                        .north = std::min(90.0, b.north)});
    }
    const int last = std::clamp(finest, 0, static_cast<int>(grid.matrices.size()) - 1);
    int matrix = last;
    for (int i = 0; i <= last; ++i) {
        if (grid.matrices[static_cast<std::size_t>(i)].resolution <= *pixel * (1 + 1e-9)) {
            matrix = i;
            break;
        }
    }
    for (;; --matrix) {
        const TileMatrix& m = grid.matrices[static_cast<std::size_t>(matrix)];
        plan.matrix = matrix;
        plan.ranges.clear();
        std::int64_t tiles = 0;
        for (const auto& points : outlines) {
            GridRange range = rangeOf(m, points, 1);
            if (!bounds.empty()) {
                const GridRange within = rangeOf(m, bounds, 0);
                range = {std::max(range.west, within.west), std::min(range.east, within.east),
                         std::max(range.north, within.north), std::min(range.south, within.south)};
            }
            plan.ranges.push_back(range);
            tiles += range.tiles();
        }
        if (matrix == 0 || tiles * m.tileWidth * m.tileHeight * 4 <= budgetBytes) {
            return plan;
        }
    }
}

} // namespace mapservice
