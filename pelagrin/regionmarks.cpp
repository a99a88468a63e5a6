#include "pelagrin/regionmarks.h"

#include "pelagrin/requesturl.h"

#include <algorithm>
#include <cmath>

namespace pelagrin {

namespace {

// The indices of |axis| whose tiles (|half| either side of the value) reach into low..high.
std::vector<std::size_t> reachingIndices(const std::vector<double>& axis, double low, double high,
                                         double half)
{
    std::vector<std::size_t> found;
    for (std::size_t i = 0; i < axis.size(); ++i) {
        if (axis[i] + half > low && axis[i] - half < high) {
            found.push_back(i);
        }
    }
    return found;
}

} // namespace

std::vector<common::PictureMark> regionMarks(const RegionPlan& plan,
                                             const std::optional<std::vector<qint64>>& positions,
                                             const StoredScan& scan, const FetchedPicture& picture)
{
    using Kind = common::PictureMark::Kind;
    const common::GeoBox seen =
        common::pictureBox(picture.centre, picture.zoom, picture.side, picture.side);
    if (plan.tilecount() == 0 || seen.width() <= 0 || seen.height() <= 0) {
        return {};
    }
    const double half = std::abs(common::degreesPerPixel(plan.zoom())) * largeSide / 2;
    // The picture's place in the region's turn of longitude.
    const double centre = (plan.longitudes().front() + plan.longitudes().back()) / 2;
    const double turn = 360 * std::round((centre - picture.centre.longitude) / 360);
    const double west = seen.west + turn;
    const auto rows = reachingIndices(plan.latitudes(), seen.south, seen.north, half);
    const auto columns = reachingIndices(plan.longitudes(), west, seen.east + turn, half);
    const auto fraction = [&](const common::GeoBox& box) {
        return QRectF((box.west - west) / seen.width(), (seen.north - box.north) / seen.height(),
                      box.width() / seen.width(), box.height() / seen.height());
    };
    std::vector<common::PictureMark> marks;
    if (rows.size() * columns.size() > maxMarkedTiles) {
        const common::GeoBox first = plan.tileBox(0);
        const common::GeoBox last = plan.tileBox(plan.tilecount() - 1);
        marks.push_back({fraction(first.united(last)), Kind::Outline});
        return marks;
    }
    const auto has = [](const std::vector<qint64>& sorted, qint64 position) {
        return std::binary_search(sorted.begin(), sorted.end(), position);
    };
    const auto columnCount = static_cast<qint64>(plan.longitudes().size());
    std::vector<common::PictureMark> outlines;
    for (const std::size_t row : rows) {
        for (const std::size_t column : columns) {
            const qint64 position =
                static_cast<qint64>(row) * columnCount + static_cast<qint64>(column);
            if (positions && !has(*positions, position)) {
                continue;
            }
            const QRectF rect = fraction(plan.tileBox(position));
            if (has(scan.old, position)) {
                marks.push_back({rect, Kind::SecondShade});
            } else if (has(scan.stored, position)) {
                marks.push_back({rect, Kind::Shade});
            }
            outlines.push_back({rect, Kind::Outline});
        }
    }
    marks.insert(marks.end(), outlines.begin(), outlines.end());
    return marks;
}

} // namespace pelagrin
