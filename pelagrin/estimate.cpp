#include "pelagrin/estimate.h"

#include "common/tilegeometry.h"

#include <algorithm>

namespace pelagrin {

void RateMeter::started(Time at)
{
    runStart_ = at;
}

void RateMeter::arrived(Time at, qint64 bytes)
{
    recent_.emplace_back(at, bytes);
    while (recent_.front().first < at - window) {
        recent_.pop_front();
    }
}

std::optional<double> RateMeter::bytesPerSecond() const
{
    if (recent_.empty()) {
        return std::nullopt;
    }
    const Time latest = recent_.back().first;
    const Time from = std::max(runStart_, latest - window);
    const double seconds = std::chrono::duration<double>(latest - from).count();
    if (seconds <= 0) {
        return std::nullopt;
    }
    qint64 bytes = 0;
    for (const auto& [at, size] : recent_) {
        bytes += at >= from ? size : 0;
    }
    return static_cast<double>(bytes) / seconds;
}

double medianSize(std::vector<qint64> sizes)
{
    const std::size_t middle = sizes.size() / 2;
    std::nth_element(sizes.begin(), sizes.begin() + static_cast<std::ptrdiff_t>(middle),
                     sizes.end());
    const auto upper = static_cast<double>(sizes[middle]);
    if (sizes.size() % 2 == 1) {
        return upper;
    }
    const auto lower = static_cast<double>(
        *std::max_element(sizes.begin(), sizes.begin() + static_cast<std::ptrdiff_t>(middle)));
    return (lower + upper) / 2;
}

Estimate estimateDownload(qint64 tiles, const EstimateBasis& basis)
{
    Estimate estimate;
    double tileBytes = 0;
    if (!basis.storedSizes.empty()) {
        estimate.from = Estimate::From::Stored;
        tileBytes = medianSize(basis.storedSizes);
    } else if (!basis.lastFetchedSizes.empty()) {
        estimate.from = Estimate::From::LastFetched;
        tileBytes = medianSize(basis.lastFetchedSizes);
    } else if (basis.previewBytesPerPixel) {
        estimate.from = Estimate::From::Preview;
        tileBytes = *basis.previewBytesPerPixel * common::tilePixels * common::tilePixels;
    } else {
        return estimate;
    }
    estimate.bytes = tileBytes * static_cast<double>(tiles);
    const std::optional<double> rate = basis.downloadRate ? basis.downloadRate : basis.previewRate;
    if (rate && *rate > 0) {
        estimate.seconds = *estimate.bytes / *rate;
    }
    return estimate;
}

} // namespace pelagrin
