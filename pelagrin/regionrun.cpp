#include "pelagrin/regionrun.h"

#include "common/errortext.h"
#include "common/worldfile.h"
#include "pelagrin/messages.h"
#include "pelagrin/requesturl.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <algorithm>

namespace pelagrin {

struct RegionRun::Tile {
    TileJob job;
    int attempt = 0;
    QString lastFailure;   // why the latest attempt failed
    bool onNetwork = true; // false once the body has arrived and goes into its file
    bool refresh = false;  // stored already: asked for with its validator
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

void RegionRun::setRefresh(std::vector<qint64> positions)
{
    refresh_ = std::move(positions);
    std::sort(refresh_.begin(), refresh_.end());
}

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
        tile.refresh = std::binary_search(refresh_.begin(), refresh_.end(), tile.job.position);
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
    Asking asking;
    if (tile.refresh) {
        QFile aux(common::auxFilePath(tile.job.path));
        if (aux.open(QIODevice::ReadOnly)) {
            asking.etag = common::readAuxEtag(aux.read(qint64{64} * 1024));
        }
        asking.modified = QFileInfo(tile.job.path).lastModified();
        asking.unchanged = [this, &tile] { tileUnchanged(tile); };
    }
    // GIS programs open the tile in place, and the exporter knows its exact centre, which the
    // name gives only to two decimals.
    auto transfer = fetcher_.download(
        tile.job.url, tile.job.path,
        [this, &tile](const common::Status& ended) { transferEnded(tile, ended); },
        [this, &tile] {
            tile.onNetwork = false;
            startTiles();
        },
        georeferencing(tile.job.path, tile.job.place), QSize(largeSide, largeSide),
        std::move(asking));
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
    if (tile.refresh) { // the stored tile stays, and so does the run
        ++refreshFailed_;
        remove(tile);
        startTiles();
        return;
    }
    giveUp(tile);
}

void RegionRun::tileUnchanged(Tile& tile)
{
    // The stored tile is as good as new: only its time says so.
    QFile gif(tile.job.path);
    if (gif.open(QIODevice::ReadWrite)) {
        gif.setFileTime(QDateTime::currentDateTimeUtc(), QFileDevice::FileModificationTime);
    }
    const QString path = tile.job.path;
    remove(tile);
    ++kept_;
    emit tileKept(path, stored_ + kept_);
    startTiles();
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
