#include "mapexport/tilepyramid.h"

#include "common/webmercator.h"
#include "mapexport/blockwarper.h"

#include <QImage>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

namespace mapexport {

namespace {

using namespace common::mercator;

// The mosaic's bounds with its west edge within -180..180 and the east edge after it, past 180
// where the mosaic crosses it.
common::GeoBox spanOf(const Mosaic& mosaic)
{
    const common::GeoTransform& t = mosaic.transform;
    const double west = westWithin180(mosaic);
    return {.west = west,
            .south = t[3] + t[5] * mosaic.height,
            .east = std::min(west + t[1] * mosaic.width, west + 360),
            .north = t[3]};
}

// The columns and rows of the tiles at |zoom| that the span reaches into.
struct Range {
    std::int64_t west, east, north, south; // inclusive; columns counted on past 180
    std::int64_t count() const { return (east - west + 1) * (south - north + 1); }
};

Range rangeOf(const common::GeoBox& s, int zoom)
{
    const auto n = static_cast<std::int64_t>(tilesAcross(zoom));
    Range r{static_cast<std::int64_t>(std::floor(tileColumn(s.west, zoom))),
            static_cast<std::int64_t>(std::ceil(tileColumn(s.east, zoom))) - 1,
            static_cast<std::int64_t>(std::floor(tileRow(s.north, zoom))),
            static_cast<std::int64_t>(std::ceil(tileRow(s.south, zoom))) - 1};
    r.east = std::min(r.east, r.west + n - 1);
    r.north = std::clamp<std::int64_t>(r.north, 0, n - 1);
    r.south = std::clamp<std::int64_t>(r.south, r.north, n - 1);
    return r;
}

constexpr int blockLevels = 3; // a block is 8 x 8 of the finest tiles

// The average of four premultiplied pixels, each channel rounded to nearest: two channels at a
// time, 16 bits apart, where four bytes and the rounding fit.
QRgb averageOfFour(QRgb a, QRgb b, QRgb c, QRgb d)
{
    constexpr QRgb lanes = 0x00FF00FF;
    constexpr QRgb half = 0x00020002;
    const QRgb redBlue =
        (((a & lanes) + (b & lanes) + (c & lanes) + (d & lanes) + half) >> 2) & lanes;
    const QRgb alphaGreen = ((((a >> 8) & lanes) + ((b >> 8) & lanes) + ((c >> 8) & lanes) +
                              ((d >> 8) & lanes) + half) >>
                             2) &
                            lanes;
    return redBlue | alphaGreen << 8;
}

class PyramidWriter {
public:
    PyramidWriter(const Mosaic& mosaic, const PyramidPlan& plan, TileSink& sink, TileFormat format,
                  GDALProgressFunc progress, void* progressData)
        : mosaic_(mosaic), plan_(plan), encoders_(sink, format, plan.maxZoom),
          span_(spanOf(mosaic)), blockZoom_(std::max(0, plan.maxZoom - blockLevels)),
          blockSide_(tilePixels << (plan.maxZoom - blockZoom_)), progress_(progress),
          progressData_(progressData)
    {
        const Range blocks = rangeOf(span_, blockZoom_);
        blockCount_ = blocks.count();
    }

    common::Result<PyramidWritten> run()
    {
        std::vector<Block> order;
        visitBlocks(0, 0, 0, order);
        // The mosaic's own west edge may lie anywhere a name can put it (to 540 degrees either
        // way): its longitudes are taken shifted by whole turns to the span's.
        BlockGrid grid{.mosaic = mosaic_.transform,
                       .west = span_.west,
                       .zoom = plan_.maxZoom,
                       .side = blockSide_};
        grid.mosaic[0] = span_.west;
        // As many warping threads as cores: the encoders' threads take what they leave.
        const int threads = static_cast<int>(std::max(1U, std::thread::hardware_concurrency()));
        blocks_ =
            std::make_unique<BlocksAhead>(mosaicVrt(mosaic_), grid, std::move(order), threads);
        render(0, 0, 0);
        blocks_.reset();
        if (auto encoded = encoders_.finish(); encoded && !error_) {
            error_ = encoded;
        }
        if (error_) {
            return *error_;
        }
        return PyramidWritten{.tiles = given_, .format = encoders_.format()};
    }

private:
    // Whether the tile reaches into the mosaic (its edges alone do not count).
    bool reaches(int zoom, std::int64_t column, std::int64_t row) const
    {
        const double west = columnLongitude(static_cast<double>(column), zoom);
        const double east = columnLongitude(static_cast<double>(column + 1), zoom);
        const double north = rowLatitude(static_cast<double>(row), zoom);
        const double south = rowLatitude(static_cast<double>(row + 1), zoom);
        const auto overlaps = [&](double shift) {
            return west + shift < span_.east && east + shift > span_.west;
        };
        return north > span_.south && south < span_.north && (overlaps(0) || overlaps(360));
    }

    // The blocks under the tile that reach into the mosaic, in the order render() takes them.
    void visitBlocks(int zoom, std::int64_t column, std::int64_t row, std::vector<Block>& order)
    {
        if (!reaches(zoom, column, row)) {
            return;
        }
        if (zoom == blockZoom_) {
            order.push_back({column, row});
            return;
        }
        for (int i = 0; i < 4; ++i) {
            visitBlocks(zoom + 1, column * 2 + i % 2, row * 2 + i / 2, order);
        }
    }

    // The tile's picture after giving it and everything beneath it to the sink; null when
    // wholly transparent.
    QImage render(int zoom, std::int64_t column, std::int64_t row)
    {
        if (error_ || !reaches(zoom, column, row)) {
            return {};
        }
        if (zoom == blockZoom_) {
            auto block = blocks_->next();
            if (!block) {
                error_ = block.error();
                return {};
            }
            QImage tile = cut(*block, zoom, column, row, 0, 0);
            report();
            return tile;
        }
        std::array<QImage, 4> children;
        for (int i = 0; i < 4; ++i) {
            children[i] = render(zoom + 1, column * 2 + i % 2, row * 2 + i / 2);
        }
        return give(zoom, column, row, shrink(children));
    }

    // The tile at |x|, |y| of the block and the finer tiles beneath it.
    QImage cut(const QImage& block, int zoom, std::int64_t column, std::int64_t row, int x, int y)
    {
        if (zoom == plan_.maxZoom) {
            return give(zoom, column, row, block.copy(x, y, tilePixels, tilePixels));
        }
        const int half = (tilePixels << (plan_.maxZoom - zoom)) / 2;
        std::array<QImage, 4> children;
        for (int i = 0; i < 4; ++i) {
            children[i] = cut(block, zoom + 1, column * 2 + i % 2, row * 2 + i / 2,
                              x + i % 2 * half, y + i / 2 * half);
        }
        return give(zoom, column, row, shrink(children));
    }

    // Four tiles (north-west, north-east, south-west, south-east) as one of half their size:
    // each pixel the average of the four beneath it, a missing tile transparent.
    static QImage shrink(const std::array<QImage, 4>& children)
    {
        if (std::all_of(children.begin(), children.end(),
                        [](const QImage& c) { return c.isNull(); })) {
            return {};
        }
        QImage half(tilePixels, tilePixels, QImage::Format_ARGB32_Premultiplied);
        half.fill(Qt::transparent);
        constexpr std::ptrdiff_t quarter = tilePixels / 2;
        for (int i = 0; i < 4; ++i) {
            if (children[i].isNull()) {
                continue;
            }
            const QImage child = children[i].convertToFormat(QImage::Format_ARGB32_Premultiplied);
            for (int y = 0; y < static_cast<int>(quarter); ++y) {
                const auto* upper = reinterpret_cast<const QRgb*>(child.constScanLine(2 * y));
                const auto* lower = reinterpret_cast<const QRgb*>(child.constScanLine(2 * y + 1));
                QRgb* out =
                    reinterpret_cast<QRgb*>(half.scanLine(static_cast<int>(i / 2 * quarter + y))) +
                    i % 2 * quarter;
                for (std::ptrdiff_t x = 0; x < quarter; ++x) {
                    out[x] = averageOfFour(upper[2 * x], upper[2 * x + 1], lower[2 * x],
                                           lower[2 * x + 1]);
                }
            }
        }
        return half;
    }

    // Gives |tile| to the sink unless it is wholly transparent or coarser than the plan's
    // coarsest zoom; the tile, or null when transparent.
    QImage give(int zoom, std::int64_t column, std::int64_t row, QImage tile)
    {
        if (tile.isNull() || error_) {
            return {};
        }
        const auto* pixels = reinterpret_cast<const QRgb*>(tile.constBits());
        if (std::all_of(pixels, pixels + static_cast<std::ptrdiff_t>(tile.width()) * tile.height(),
                        [](QRgb p) { return qAlpha(p) == 0; })) {
            return {};
        }
        if (zoom >= plan_.minZoom) {
            if (!encoders_.add(zoom, wrapColumn(column, zoom), row, tile)) {
                error_ = encoders_.finish();
                return {};
            }
            ++given_;
        }
        return tile;
    }

    void report()
    {
        ++blocksDone_;
        if (progress_ != nullptr && !error_ &&
            progress_(static_cast<double>(blocksDone_) / static_cast<double>(blockCount_), "",
                      progressData_) == FALSE) {
            error_ = common::permanent("stopped", 1);
        }
    }

    const Mosaic& mosaic_;
    const PyramidPlan& plan_;
    TileEncoders encoders_;
    common::GeoBox span_;
    int blockZoom_;
    int blockSide_;
    GDALProgressFunc progress_;
    void* progressData_;
    std::int64_t blockCount_ = 1;
    std::int64_t blocksDone_ = 0;
    std::int64_t given_ = 0;
    std::optional<common::Error> error_;
    std::unique_ptr<BlocksAhead> blocks_;
};

} // namespace

PyramidPlan planPyramid(const Mosaic& mosaic)
{
    const common::GeoBox s = spanOf(mosaic);
    PyramidPlan plan;
    plan.maxZoom = tileZoomFor(mosaic.transform[1], finestTileZoom);
    plan.minZoom = 0;
    for (int zoom = plan.maxZoom; zoom > 0; --zoom) {
        if (rangeOf(s, zoom).count() == 1) {
            plan.minZoom = zoom;
            break;
        }
    }
    const Range finest = rangeOf(s, plan.maxZoom);
    const auto across = static_cast<std::int64_t>(tilesAcross(plan.maxZoom));
    const bool wraps = finest.east >= across;
    plan.firstColumn = wraps ? 0 : finest.west;
    plan.lastColumn = wraps ? across - 1 : finest.east;
    plan.firstRow = finest.north;
    plan.lastRow = finest.south;
    // Across 180 degrees the bounds take every longitude: readers want west < east.
    const bool crosses = s.east > 180;
    plan.bounds = {.west = crosses ? -180 : s.west,
                   .south = std::max(s.south, -mercatorLimit),
                   .east = crosses ? 180 : s.east,
                   .north = std::min(s.north, mercatorLimit)};
    plan.centreLongitude = (s.west + s.east) / 2;
    plan.centreLongitude -= plan.centreLongitude > 180 ? 360 : 0;
    return plan;
}

common::Result<PyramidWritten> writePyramid(const Mosaic& mosaic, const PyramidPlan& plan,
                                            TileSink& sink, TileFormat format,
                                            GDALProgressFunc progress, void* progressData)
{
    return PyramidWriter(mosaic, plan, sink, format, progress, progressData).run();
}

} // namespace mapexport
