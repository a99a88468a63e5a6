#include "mapexport/tilepyramid.h"

#include "common/gdal.h"
#include "common/webmercator.h"

#include <QImage>
#include <QPainter>

#include <gdalwarper.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <optional>
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

// Block pixels to mosaic pixels (the warper asks that way) and back. The block's longitudes lie
// within -180..180; each is taken where the mosaic has it, past 180 if need be.
struct BlockGeometry {
    common::GeoTransform mosaic{};
    double west = 0; // the span's
    int zoom = 0;
    double left = 0, top = 0; // the block's corner in pixels of the grid at |zoom|
};

int transformPoints(void* arg, int dstToSrc, int count, double* x, double* y, double*, int* success)
{
    const auto& g = *static_cast<const BlockGeometry*>(arg);
    const double across = tilesAcross(g.zoom) * tilePixels;
    double lastY = NAN; // the warper asks a row at a time: one latitude for all its points
    double lastRow = NAN;
    for (int i = 0; i < count; ++i) {
        if (dstToSrc != 0) {
            double lon = columnLongitude((g.left + x[i]) / tilePixels, g.zoom);
            lon += lon < g.west ? 360 : 0;
            if (y[i] != lastY) {
                lastY = y[i];
                lastRow =
                    (rowLatitude((g.top + y[i]) / tilePixels, g.zoom) - g.mosaic[3]) / g.mosaic[5];
            }
            x[i] = (lon - g.mosaic[0]) / g.mosaic[1];
            y[i] = lastRow;
        } else {
            const double lon = g.mosaic[0] + x[i] * g.mosaic[1];
            const double lat = g.mosaic[3] + y[i] * g.mosaic[5];
            double column = tileColumn(lon, g.zoom) * tilePixels - g.left;
            column -= std::round(column / across) * across; // the block's own side of 180
            x[i] = column;
            y[i] = tileRow(lat, g.zoom) * tilePixels - g.top;
        }
        success[i] = std::isfinite(x[i]) && std::isfinite(y[i]) ? TRUE : FALSE;
    }
    return TRUE;
}

constexpr int blockLevels = 3; // a block is 8 x 8 of the finest tiles

class PyramidWriter {
public:
    PyramidWriter(const Mosaic& mosaic, GDALDatasetH source, const PyramidPlan& plan,
                  TileSink& sink, TileFormat format, GDALProgressFunc progress, void* progressData)
        : mosaic_(mosaic), source_(source), plan_(plan), encoders_(sink, format, plan.maxZoom),
          span_(spanOf(mosaic)), blockZoom_(std::max(0, plan.maxZoom - blockLevels)),
          blockSide_(tilePixels << (plan.maxZoom - blockZoom_)), progress_(progress),
          progressData_(progressData)
    {
        const Range blocks = rangeOf(span_, blockZoom_);
        blocks_ = blocks.count();
    }

    common::Result<PyramidWritten> run()
    {
        if (auto ready = prepareWarp(); !ready) {
            return ready.error();
        }
        render(0, 0, 0);
        if (auto encoded = encoders_.finish(); encoded && !error_) {
            error_ = encoded;
        }
        if (error_) {
            return *error_;
        }
        return PyramidWritten{.tiles = given_, .format = encoders_.format()};
    }

private:
    common::Status prepareWarp()
    {
        GDALDriverH mem = GDALGetDriverByName("MEM");
        block_.reset(GDALDataset::FromHandle(
            GDALCreate(mem, "", blockSide_, blockSide_, 4, GDT_Byte, nullptr)));
        if (!block_) {
            return common::permanent("no memory for a block of tiles", 1);
        }
        // The mosaic's own west edge may lie anywhere a name can put it (to 540 degrees either
        // way): its longitudes are taken shifted by whole turns to the span's.
        geometry_.mosaic = mosaic_.transform;
        geometry_.mosaic[0] = span_.west;
        geometry_.west = span_.west;
        geometry_.zoom = plan_.maxZoom;
        GDALWarpOptions* o = GDALCreateWarpOptions();
        o->hSrcDS = source_;
        o->hDstDS = common::gdal::handle(block_);
        o->nBandCount = 3;
        o->panSrcBands = static_cast<int*>(CPLMalloc(3 * sizeof(int)));
        o->panDstBands = static_cast<int*>(CPLMalloc(3 * sizeof(int)));
        for (int b = 0; b < 3; ++b) {
            o->panSrcBands[b] = o->panDstBands[b] = b + 1;
        }
        o->nSrcAlphaBand = 4;
        o->nDstAlphaBand = 4;
        o->eResampleAlg = GRA_Bilinear;
        // Points between a row's samples are interpolated, within an eighth of a pixel, as
        // gdalwarp does.
        approximation_.reset(GDALCreateApproxTransformer(transformPoints, &geometry_, 0.125));
        o->pfnTransformer = GDALApproxTransform;
        o->pTransformerArg = approximation_.get();
        o->papszWarpOptions = CSLSetNameValue(o->papszWarpOptions, "INIT_DEST", "0");
        options_.reset(o);
        warp_ = std::make_unique<GDALWarpOperation>();
        const common::gdal::ErrorCapture errors;
        if (warp_->Initialize(o) != CE_None) {
            return errors.error(common::ErrorKind::Permanent, "the tiles cannot be cut", 1);
        }
        return {};
    }

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

    // The tile's picture after giving it and everything beneath it to the sink; null when
    // wholly transparent.
    QImage render(int zoom, std::int64_t column, std::int64_t row)
    {
        if (error_ || !reaches(zoom, column, row)) {
            return {};
        }
        if (zoom == blockZoom_) {
            const QImage block = warpBlock(column, row);
            if (block.isNull()) {
                return {};
            }
            QImage tile = cut(block, zoom, column, row, 0, 0);
            report();
            return tile;
        }
        std::array<QImage, 4> children;
        for (int i = 0; i < 4; ++i) {
            children[i] = render(zoom + 1, column * 2 + i % 2, row * 2 + i / 2);
        }
        return give(zoom, column, row, shrink(children));
    }

    QImage warpBlock(std::int64_t column, std::int64_t row)
    {
        geometry_.left = static_cast<double>(column * blockSide_);
        geometry_.top = static_cast<double>(row * blockSide_);
        const common::gdal::ErrorCapture errors;
        if (warp_->ChunkAndWarpImage(0, 0, blockSide_, blockSide_) != CE_None) {
            error_ = errors.failed()
                         ? errors.error(common::ErrorKind::Permanent, "the tiles cannot be cut", 1)
                         : common::permanent("stopped", 1);
            return {};
        }
        QImage block(blockSide_, blockSide_, QImage::Format_RGBA8888);
        if (block_->RasterIO(GF_Read, 0, 0, blockSide_, blockSide_, block.bits(), blockSide_,
                             blockSide_, GDT_Byte, 4, nullptr, 4, block.bytesPerLine(), 1,
                             nullptr) != CE_None) {
            error_ = common::permanent("a block of tiles cannot be read back", 1);
            return {};
        }
        return block.convertToFormat(QImage::Format_ARGB32_Premultiplied);
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

    // Four tiles (north-west, north-east, south-west, south-east) as one of half their size.
    static QImage shrink(const std::array<QImage, 4>& children)
    {
        if (std::all_of(children.begin(), children.end(),
                        [](const QImage& c) { return c.isNull(); })) {
            return {};
        }
        QImage whole(2 * tilePixels, 2 * tilePixels, QImage::Format_ARGB32_Premultiplied);
        whole.fill(Qt::transparent);
        QPainter painter(&whole);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        for (int i = 0; i < 4; ++i) {
            if (!children[i].isNull()) {
                painter.drawImage(i % 2 * tilePixels, i / 2 * tilePixels, children[i]);
            }
        }
        painter.end();
        return whole.scaled(tilePixels, tilePixels, Qt::IgnoreAspectRatio,
                            Qt::SmoothTransformation);
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
            progress_(static_cast<double>(blocksDone_) / static_cast<double>(blocks_), "",
                      progressData_) == FALSE) {
            error_ = common::permanent("stopped", 1);
        }
    }

    struct OptionsDeleter {
        void operator()(GDALWarpOptions* o) const { GDALDestroyWarpOptions(o); }
    };
    struct ApproximationDeleter {
        void operator()(void* arg) const { GDALDestroyApproxTransformer(arg); }
    };

    const Mosaic& mosaic_;
    GDALDatasetH source_;
    const PyramidPlan& plan_;
    TileEncoders encoders_;
    common::GeoBox span_;
    int blockZoom_;
    int blockSide_;
    GDALProgressFunc progress_;
    void* progressData_;
    std::int64_t blocks_ = 1;
    std::int64_t blocksDone_ = 0;
    std::int64_t given_ = 0;
    std::optional<common::Error> error_;
    BlockGeometry geometry_;
    common::gdal::Dataset block_;
    std::unique_ptr<void, ApproximationDeleter> approximation_;
    std::unique_ptr<GDALWarpOptions, OptionsDeleter> options_;
    std::unique_ptr<GDALWarpOperation> warp_;
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

common::Result<PyramidWritten> writePyramid(const Mosaic& mosaic, GDALDatasetH source,
                                            const PyramidPlan& plan, TileSink& sink,
                                            TileFormat format, GDALProgressFunc progress,
                                            void* progressData)
{
    return PyramidWriter(mosaic, source, plan, sink, format, progress, progressData).run();
}

} // namespace mapexport
