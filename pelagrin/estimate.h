#pragma once

// What a region's download is expected to cost, in bytes and seconds, from what is known of
// tiles and transfers so far. Plain logic: times are given, never read from a clock here.
#include <QtGlobal>

#include <chrono>
#include <deque>
#include <optional>
#include <vector>

namespace pelagrin {

// The rate of the latest minute of downloads: the bytes of the tiles that arrived within the
// minute before the latest one, over the time from the start of that minute (or of the run, when
// it started later) to the latest arrival.
class RateMeter {
public:
    using Time = std::chrono::steady_clock::time_point;
    static constexpr std::chrono::seconds window{60};

    // A run of downloads started at |at|.
    void started(Time at);
    // A tile of |bytes| arrived at |at|, no earlier than the last.
    void arrived(Time at, qint64 bytes);
    // Bytes per second; nothing before a tile has arrived a moment after its run started.
    std::optional<double> bytesPerSecond() const;

private:
    Time runStart_{};
    std::deque<std::pair<Time, qint64>> recent_;
};

// What an estimate is made from, the first one known taken: the size of the tiles of this map
// code and zoom already stored, else of the tiles the last download fetched, else the
// preview's bytes per pixel over a whole tile; the time from the rate of the last minute of
// downloads, else of the preview's transfer.
struct EstimateBasis {
    std::vector<qint64> storedSizes;
    std::vector<qint64> lastFetchedSizes;
    std::optional<double> previewBytesPerPixel;
    std::optional<double> downloadRate; // bytes per second
    std::optional<double> previewRate;
};

struct Estimate {
    enum class From { Stored, LastFetched, Preview, Nothing };
    From from = From::Nothing;
    std::optional<double> bytes;
    std::optional<double> seconds;
};

// The cost of downloading |tiles| tiles.
Estimate estimateDownload(qint64 tiles, const EstimateBasis& basis);

// The median of |sizes|, which must not be empty (the mean of the middle two of an even count).
double medianSize(std::vector<qint64> sizes);

} // namespace pelagrin
