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

// How tiles are encoded: Auto takes PNG for a tile with transparency or at most 256 colours,
// else JPEG of quality 85. A JPEG tile's transparent parts are white.
enum class TileFormat { Auto, Png, Jpeg };

// Takes the tiles as they are made, encoded (|jpeg| or PNG), rows counted from the north (as
// tile servers number them), columns within 0..2^zoom - 1; called by one thread at a time.
class TileSink {
public:
    virtual ~TileSink() = default;
    virtual common::Status put(int zoom, std::int64_t column, std::int64_t row,
                               const QByteArray& bytes, bool jpeg) = 0;
};

// |tile| (premultiplied ARGB) encoded as |format| asks; whether it became a JPEG.
struct EncodedTile {
    QByteArray bytes;
    bool jpeg = false;
};
EncodedTile encodeTile(const QImage& tile, TileFormat format);

// |image| as a JPEG of quality 85 on white, which shows where it is transparent; empty when it
// cannot be encoded.
QByteArray jpegOnWhite(const QImage& image);

// Encodes tiles as PNG and gives them to the sink on threads of its own, while the next block
// is warped; a few dozen tiles wait at most.
class TileEncoders {
public:
    TileEncoders(TileSink& sink, TileFormat format) : sink_(sink), format_(format)
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
        std::unique_lock lock(mutex_);
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
            closing_ = true;
        }
        work_.notify_all();
        for (std::thread& t : threads_) {
            t.join();
        }
        threads_.clear();
        return error_;
    }

private:
    struct Job {
        int zoom;
        std::int64_t column, row;
        QImage tile;
    };
    static constexpr std::size_t maxWaiting = 64;

    void work()
    {
        for (;;) {
            Job job;
            {
                std::unique_lock lock(mutex_);
                work_.wait(lock, [this] { return !jobs_.empty() || closing_; });
                if (jobs_.empty()) {
                    return;
                }
                job = std::move(jobs_.front());
                jobs_.pop_front();
                room_.notify_one();
            }
            const EncodedTile encoded = encodeTile(job.tile, format_);
            const std::lock_guard lock(mutex_);
            if (error_) {
                continue;
            }
            if (encoded.bytes.isEmpty()) {
                error_ = common::permanent("a tile cannot be encoded", 1);
            } else if (auto put =
                           sink_.put(job.zoom, job.column, job.row, encoded.bytes, encoded.jpeg);
                       !put) {
                error_ = put.error();
            }
            if (error_) {
                room_.notify_all();
            }
        }
    }

    TileSink& sink_;
    TileFormat format_;
    std::mutex mutex_;
    std::condition_variable work_;
    std::condition_variable room_;
    std::deque<Job> jobs_;
    bool closing_ = false;
    std::optional<common::Error> error_;
    std::vector<std::thread> threads_;
};

} // namespace mapexport
