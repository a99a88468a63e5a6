#pragma once

// The finest tiles of a pyramid are warped from the mosaic in square blocks of the Web Mercator
// grid. Blocks are warped ahead of the one the pyramid takes next, on threads of their own, each
// with its own handle of the mosaic, since a GDAL dataset serves one thread at a time.
#include "common/gdal.h"
#include "common/result.h"
#include "common/tilegeometry.h"

#include <QByteArray>
#include <QImage>

#include <gdal.h>
#include <gdalwarper.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace mapexport {

// Where the blocks lie: the mosaic's transform with its west edge at |west| (its longitudes are
// taken past 180 where the mosaic crosses it), the zoom of the grid's pixels, and the side of a
// block in pixels.
struct BlockGrid {
    common::GeoTransform mosaic{};
    double west = 0;
    int zoom = 0;
    int side = 0;
};

// A block of the grid, in blocks from the grid's north-west corner.
struct Block {
    std::int64_t column = 0;
    std::int64_t row = 0;
};

// Warps blocks from one handle of the mosaic; one thread at a time.
class BlockWarper {
public:
    BlockWarper(GDALDatasetH source, const BlockGrid& grid);
    ~BlockWarper();
    BlockWarper(const BlockWarper&) = delete;
    BlockWarper& operator=(const BlockWarper&) = delete;

    // Sets the warp up; an error when GDAL cannot.
    common::Status prepare();
    // The block's picture, premultiplied ARGB, transparent where the mosaic has nothing.
    common::Result<QImage> warp(Block block);

private:
    struct Geometry {
        BlockGrid grid;
        double left = 0, top = 0; // the block's corner in pixels of the grid
    };
    static int transformPoints(void* arg, int dstToSrc, int count, double* x, double* y, double*,
                               int* success);

    GDALDatasetH source_;
    Geometry geometry_;
    common::gdal::Dataset block_;
    void* approximation_ = nullptr;
    GDALWarpOptions* options_ = nullptr;
    std::unique_ptr<GDALWarpOperation> warp_;
};

// Blocks warped in a given order on |threads| threads, each opening the mosaic from |vrt|; at
// most |threads| + 1 blocks are ready or being warped beyond the one taken last.
class BlocksAhead {
public:
    BlocksAhead(QByteArray vrt, const BlockGrid& grid, std::vector<Block> order, int threads);
    ~BlocksAhead(); // waits for the blocks being warped, and warps no more
    BlocksAhead(const BlocksAhead&) = delete;
    BlocksAhead& operator=(const BlocksAhead&) = delete;

    // The next block of the order and its picture, waited for; its error when it failed.
    common::Result<QImage> next();

private:
    void work();

    QByteArray vrt_;
    BlockGrid grid_;
    std::vector<Block> order_;
    std::size_t ahead_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t started_ = 0; // blocks of the order given to a thread
    std::size_t taken_ = 0;   // blocks handed out by next()
    std::map<std::size_t, common::Result<QImage>> ready_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

} // namespace mapexport
