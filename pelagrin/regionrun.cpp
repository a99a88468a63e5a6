#include "pelagrin/regionrun.h"

#include "common/errortext.h"
#include "pelagrin/messages.h"
#include "pelagrin/requesturl.h"

#include <QTimer>

#include <algorithm>

namespace pelagrin {

struct RegionRun::Tile {
    TileJob job;
    int attempt = 0;
    QString lastFailure;   // why the latest attempt failed
    bool onNetwork = true; // false once the body has arrived and goes into its file
    std::unique_ptr<Transfer> transfer;
};

RegionRun::RegionRun(Fetcher& fetcher, RegionPlan plan, RetryPolicy retry, int connections,
                     QObject* parent)
    : QObject(parent), fetcher_(fetcher), plan_(std::move(plan)), retry_(retry),
      connections_(std::max(1, connections))
{}

RegionRun::RegionRun(Fetcher& fetcher, RegionPlan plan, std::vector<qint64> positions,
                     RetryPolicy retry, int connections, QObject* parent)
    : RegionRun(fetcher, std::move(plan), retry, connections, parent)
{
    positions_ = std::move(positions);
}

RegionRun::~RegionRun() = default;

void RegionRun::start()
{
    startTiles();
}

void RegionRun::stop()
{
    stopped_ = true;
}

void RegionRun::startTiles()
{
    const qint64 count = positions_ ? static_cast<qint64>(positions_->size()) : plan_.tilecount();
    // A tile whose body has arrived no longer holds a connection: the next request overlaps
    // with writing it.
    const auto onNetwork = [this] {
        return std::count_if(inFlight_.begin(), inFlight_.end(),
                             [](const Tile& t) { return t.onNetwork; });
    };
    while (onNetwork() < connections_ && next_ < count && !stopped_) {
        Tile& tile = inFlight_.emplace_back();
        tile.job = plan_.job(positions_ ? (*positions_)[static_cast<std::size_t>(next_)] : next_);
        ++next_;
        startTransfer(tile);
    }
    if (inFlight_.empty() && !finished_) {
        finished_ = true;
        // Told from the event loop, so that a handler never learns of the end inside start().
        QTimer::singleShot(0, this, [this] { emit finished(stored_); });
    }
}

void RegionRun::startTransfer(Tile& tile)
{
    tile.onNetwork = true;
    // GIS programs open the tile in place, and the exporter knows its exact centre, which the
    // name gives only to two decimals.
    auto transfer = fetcher_.download(
        tile.job.url, tile.job.path,
        [this, &tile](const common::Status& ended) { transferEnded(tile, ended); },
        [this, &tile] {
            tile.onNetwork = false;
            startTiles();
        },
        georeferencing(tile.job.path, tile.job.place), QSize(largeSide, largeSide));
    if (!transfer) {
        // The request could not even be made: no retry helps.
        transferEnded(tile, transfer.error());
        return;
    }
    tile.transfer = std::move(transfer).value();
}

void RegionRun::transferEnded(Tile& tile, const common::Status& ended)
{
    if (ended.ok()) {
        const QString path = tile.job.path;
        remove(tile);
        ++stored_;
        emit tileStored(path, stored_);
        startTiles();
        return;
    }
    tile.lastFailure = common::errorText(ended.error());
    if (ended.error().worthRetry() && tile.attempt < retry_.retries && !stopped_) {
        tile.transfer.reset();
        retryLater(tile);
        return;
    }
    giveUp(tile);
}

void RegionRun::giveUp(Tile& tile)
{
    if (!failed_) {
        failed_ = true;
        emit tileFailed(tileFailedMessage(tile.job.path, tile.lastFailure));
    }
    stopped_ = true;
    remove(tile);
    startTiles();
}

void RegionRun::retryLater(Tile& tile)
{
    QTimer::singleShot(retry_.pauseMs, this, [this, &tile] {
        if (stopped_) {
            giveUp(tile);
            return;
        }
        ++tile.attempt;
        startTransfer(tile);
    });
}

void RegionRun::remove(Tile& tile)
{
    // A transfer may be destroyed from its own callback: it touches nothing after calling it.
    inFlight_.remove_if([&tile](const Tile& t) { return &t == &tile; });
}

} // namespace pelagrin
