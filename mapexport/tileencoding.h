#pragma once

// Map tiles encoded as PNG or JPEG and handed to where they are kept, on a bounded pool of
// encoding threads while the next tiles are cut.
#include "common/result.h"

#include <QByteArray>
#include <QImage>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace mapexport {

// How tiles are encoded: PNG, JPEG of quality 85 (white where the map is transparent) or lossy
// WebP with transparency. Auto chooses one for the whole file, from a sample of its finest tiles
// as they are cut: PNG when the map is drawn, else JPEG (see chooseTileFormat).
enum class TileFormat { Auto, Png, Jpeg, Webp };

// The format's name as MBTiles metadata gives it: "png", "jpg" or "webp".
const char* tileFormatName(TileFormat format);

// Takes the tiles as they are made, encoded, rows counted from the north (as tile servers number
// them), columns within 0..2^zoom - 1; called by one thread at a time.
class TileSink {
public:
    virtual ~TileSink() = default;
    virtual common::Status put(int zoom, std::int64_t column, std::int64_t row,
                               const QByteArray& bytes) = 0;
};

// Whether |tile| holds at most 256 colours, transparency counted as colours: a drawn map, where
// a photograph or shading holds more.
bool isDrawn(const QImage& tile);

// Auto's choice from a sample of tiles: PNG when at least nine in ten are drawn (a drawn map's
// own tiles, a few of them crossed by shading or a photograph), else JPEG.
TileFormat chooseTileFormat(int drawn, int sampled);

// |tile| (premultiplied ARGB) encoded as |format| (not Auto); empty when it cannot be. A PNG
// has a palette when the tile holds at most 256 colours, which keeps every pixel in a quarter
// of the bytes.
QByteArray encodeTile(const QImage& tile, TileFormat format);

// |image| as a JPEG of quality 85 on white, which shows where it is transparent; empty when it
// cannot be encoded.
QByteArray jpegOnWhite(const QImage& image);

// Encodes tiles and gives them to the sink on threads of its own, while the next block is
// warped; a few dozen tiles wait at most. With Auto the first tiles wait until the format is
// chosen from the first |sampleSize| tiles of |sampleZoom| (or all there are, or as many as came
// before the queue filled).
class TileEncoders {
public:
    static constexpr int sampleSize = 32;

    TileEncoders(TileSink& sink, TileFormat format, int sampleZoom)
        : sink_(sink), format_(format), sampleZoom_(sampleZoom)
    {
        const unsigned cores = std::max(2U, std::thread::hardware_concurrency());
        for (unsigned i = 1; i < cores; ++i) {
            threads_.emplace_back([this] { work(); });
        }
    }
    ~TileEncoders() { finish(); }
    TileEncoders(const TileEncoders&) = delete;
    TileEncoders& operator=(const TileEncoders&) = delete;

    // Waits while the queue is full; false once an encoding or the sink has failed.
    bool add(int zoom, std::int64_t column, std::int64_t row, QImage tile)
    {
        const bool sampled = format_ == TileFormat::Auto && zoom == sampleZoom_;
        const bool drawn = sampled && isDrawn(tile);
        std::unique_lock lock(mutex_);
        if (format_ == TileFormat::Auto) {
            sampled_ += sampled ? 1 : 0;
            drawn_ += drawn ? 1 : 0;
            if (sampled_ >= sampleSize || jobs_.size() + 1 >= maxWaiting) {
                choose();
            }
        }
        room_.wait(lock, [this] { return jobs_.size() < maxWaiting || error_; });
        if (error_) {
            return false;
        }
        jobs_.push_back({zoom, column, row, std::move(tile)});
        work_.notify_one();
        return true;
    }

    // Waits for every tile given; the first error, if any.
    std::optional<common::Error> finish()
    {
        {
            const std::lock_guard lock(mutex_);
            if (format_ == TileFormat::Auto) {
                choose();
            }
            closing_ = true;
        }
        work_.notify_all();
        for (std::thread& t : threads_) {
            t.join();
        }
        threads_.clear();
        return error_;
    }

    // The format the tiles were encoded in; Auto's choice once it is made.
    TileFormat format() const
    {
        const std::lock_guard lock(mutex_);
        return format_;
    }

private:
    struct Job {
        int zoom;
        std::int64_t column, row;
        QImage tile;
    };
    static constexpr std::size_t maxWaiting = 64;

    // Auto's choice, under the lock; tiles of a file with nothing to sample are PNG.
    void choose()
    {
        format_ = sampled_ == 0 ? TileFormat::Png : chooseTileFormat(drawn_, sampled_);
        work_.notify_all();
    }

    void work()
    {
        for (;;) {
            Job job;
            TileFormat format = TileFormat::Png;
            {
                std::unique_lock lock(mutex_);
                work_.wait(lock, [this] {
                    return (!jobs_.empty() && format_ != TileFormat::Auto) || closing_;
                });
                if (jobs_.empty()) {
                    return;
                }
                job = std::move(jobs_.front());
                jobs_.pop_front();
                format = format_;
                room_.notify_one();
            }
            const QByteArray encoded = encodeTile(job.tile, format);
            const std::lock_guard lock(mutex_);
            if (error_) {
                continue;
            }
            if (encoded.isEmpty()) {
                error_ = common::permanent("a tile cannot be encoded", 1);
            } else if (auto put = sink_.put(job.zoom, job.column, job.row, encoded); !put) {
                error_ = put.error();
            }
            if (error_) {
                room_.notify_all();
            }
        }
    }

    TileSink& sink_;
    TileFormat format_;
    int sampleZoom_;
    int sampled_ = 0;
    int drawn_ = 0;
    mutable std::mutex mutex_;
    std::condition_variable work_;
    std::condition_variable room_;
    std::deque<Job> jobs_;
    bool closing_ = false;
    std::optional<common::Error> error_;
    std::vector<std::thread> threads_;
};

} // namespace mapexport
