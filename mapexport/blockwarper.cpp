#include "mapexport/blockwarper.h"

#include "common/webmercator.h"

#include <gdalwarper.h>

#include <cmath>
#include <utility>

namespace mapexport {

using namespace common::mercator;

BlockWarper::BlockWarper(GDALDatasetH source, const BlockGrid& grid)
    : source_(source), geometry_{grid}
{}

BlockWarper::~BlockWarper()
{
    warp_.reset();
    if (options_ != nullptr) {
        GDALDestroyWarpOptions(options_);
    }
    if (approximation_ != nullptr) {
        GDALDestroyApproxTransformer(approximation_);
    }
}

// Block pixels to mosaic pixels (the warper asks that way) and back. The block's longitudes lie
// within -180..180; each is taken where the mosaic has it, past 180 if need be.
int BlockWarper::transformPoints(void* arg, int dstToSrc, int count, double* x, double* y, double*,
                                 int* success)
{
    const Geometry& g = *static_cast<const Geometry*>(arg);
    const common::GeoTransform& m = g.grid.mosaic;
    const int zoom = g.grid.zoom;
    const double across = tilesAcross(zoom) * tilePixels;
    double lastY = NAN; // the warper asks a row at a time: one latitude for all its points
    double lastRow = NAN;
    for (int i = 0; i < count; ++i) {
        if (dstToSrc != 0) {
            double lon = columnLongitude((g.left + x[i]) / tilePixels, zoom);
            lon += lon < g.grid.west ? 360 : 0;
            if (y[i] != lastY) {
                lastY = y[i];
                lastRow = (rowLatitude((g.top + y[i]) / tilePixels, zoom) - m[3]) / m[5];
            }
            x[i] = (lon - m[0]) / m[1];
            y[i] = lastRow;
        } else {
            const double lon = m[0] + x[i] * m[1];
            const double lat = m[3] + y[i] * m[5];
            double column = tileColumn(lon, zoom) * tilePixels - g.left;
            column -= std::round(column / across) * across; // the block's own side of 180
            x[i] = column;
            y[i] = tileRow(lat, zoom) * tilePixels - g.top;
        }
        success[i] = std::isfinite(x[i]) && std::isfinite(y[i]) ? TRUE : FALSE;
    }
    return TRUE;
}

common::Status BlockWarper::prepare()
{
    const int side = geometry_.grid.side;
    block_.reset(GDALDataset::FromHandle(
        GDALCreate(GDALGetDriverByName("MEM"), "", side, side, 4, GDT_Byte, nullptr)));
    if (!block_) {
        return common::permanent("no memory for a block of tiles", 1);
    }
    // The mosaic is transparent black where it has no tile, so its pixels are premultiplied RGBA
    // already, and premultiplied colours are interpolated as four plain bands: the weighting by
    // alpha that the warper applies with alpha bands, on its fast path for bytes without masks.
    options_ = GDALCreateWarpOptions();
    options_->hSrcDS = source_;
    options_->hDstDS = common::gdal::handle(block_);
    options_->nBandCount = 4;
    options_->panSrcBands = static_cast<int*>(CPLMalloc(4 * sizeof(int)));
    options_->panDstBands = static_cast<int*>(CPLMalloc(4 * sizeof(int)));
    for (int b = 0; b < 4; ++b) {
        options_->panSrcBands[b] = options_->panDstBands[b] = b + 1;
    }
    options_->eResampleAlg = GRA_Bilinear;
    // Points between a row's samples are interpolated, within an eighth of a pixel, as gdalwarp
    // does.
    approximation_ = GDALCreateApproxTransformer(transformPoints, &geometry_, 0.125);
    options_->pfnTransformer = GDALApproxTransform;
    options_->pTransformerArg = approximation_;
    options_->papszWarpOptions = CSLSetNameValue(options_->papszWarpOptions, "INIT_DEST", "0");
    warp_ = std::make_unique<GDALWarpOperation>();
    const common::gdal::ErrorCapture errors;
    if (warp_->Initialize(options_) != CE_None) {
        return errors.error(common::ErrorKind::Permanent, "the tiles cannot be cut", 1);
    }
    return {};
}

common::Result<QImage> BlockWarper::warp(Block block)
{
    const int side = geometry_.grid.side;
    geometry_.left = static_cast<double>(block.column * side);
    geometry_.top = static_cast<double>(block.row * side);
    const common::gdal::ErrorCapture errors;
    if (warp_->ChunkAndWarpImage(0, 0, side, side) != CE_None) {
        return errors.error(common::ErrorKind::Permanent, "the tiles cannot be cut", 1);
    }
    QImage picture(side, side, QImage::Format_RGBA8888_Premultiplied);
    if (block_->RasterIO(GF_Read, 0, 0, side, side, picture.bits(), side, side, GDT_Byte, 4,
                         nullptr, 4, picture.bytesPerLine(), 1, nullptr) != CE_None) {
        return common::permanent("a block of tiles cannot be read back", 1);
    }
    return picture.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

BlocksAhead::BlocksAhead(QByteArray vrt, const BlockGrid& grid, std::vector<Block> order,
                         int threads)
    : vrt_(std::move(vrt)), grid_(grid), order_(std::move(order)),
      ahead_(static_cast<std::size_t>(threads) + 1)
{
    threads_.reserve(static_cast<std::size_t>(threads));
    for (int i = 0; i < threads; ++i) {
        threads_.emplace_back([this] { work(); });
    }
}

BlocksAhead::~BlocksAhead()
{
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    for (std::thread& thread : threads_) {
        thread.join();
    }
}

common::Result<QImage> BlocksAhead::next()
{
    std::unique_lock lock(mutex_);
    if (taken_ >= order_.size()) {
        return common::permanent("no block is left to cut", 1);
    }
    changed_.wait(lock, [this] { return ready_.count(taken_) != 0; });
    auto picture = std::move(ready_.at(taken_));
    ready_.erase(taken_);
    ++taken_;
    changed_.notify_all();
    return picture;
}

void BlocksAhead::work()
{
    auto source = common::gdal::openRaster(vrt_.toStdString(), "the mosaic of the tiles");
    std::unique_ptr<BlockWarper> warper;
    common::Status prepared = source ? common::Status{} : common::permanent(source.error().text, 1);
    if (prepared) {
        warper = std::make_unique<BlockWarper>(common::gdal::handle(*source), grid_);
        prepared = warper->prepare();
    }
    for (;;) {
        std::size_t index = 0;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] {
                return stopping_ || (started_ < order_.size() && started_ < taken_ + ahead_);
            });
            if (stopping_) {
                return;
            }
            index = started_++;
        }
        common::Result<QImage> picture =
            prepared ? warper->warp(order_[index]) : common::Result<QImage>(prepared.error());
        {
            const std::lock_guard lock(mutex_);
            ready_.emplace(index, std::move(picture));
        }
        changed_.notify_all();
    }
}

} // namespace mapexport
