#include "pelagrin/regionrun.h"

#include "common/failure.h"
#include "common/worldfile.h"
#include "pelagrin/messages.h"
#include "pelagrin/requesturl.h"
#include "pelagrin/tilename.h"

#include <QEventLoop>
#include <QTimer>

#include <algorithm>

namespace pelagrin {

struct RegionRun::Tile {
    QString url;
    QString path;
    common::GeoTransform place{}; // where the service draws it, from the centre asked for
    int attempt = 0;
    QString lastFailure;   // why the latest attempt failed
    bool onNetwork = true; // false once the body has arrived and goes into its file
    std::unique_ptr<Transfer> transfer;
};

RegionRun::RegionRun(MapSettings& settings, Fetcher& fetcher, RegionPlan plan,
                     common::TileFolder folder, QString serviceAddress, Callbacks callbacks,
                     RetryPolicy retry, int connections)
    : settings_(settings), fetcher_(fetcher), plan_(std::move(plan)), folder_(std::move(folder)),
      serviceAddress_(std::move(serviceAddress)), callbacks_(std::move(callbacks)), retry_(retry),
      connections_(std::max(1, connections))
{}

RegionRun::~RegionRun() = default;

RegionRun::Result RegionRun::run()
{
    startTiles();
    if (!inFlight_.empty()) {
        QEventLoop loop;
        loop_ = &loop;
        loop.exec();
        loop_ = nullptr;
    }
    // A wait ended from outside (the program is closing) cancels what is still in flight.
    inFlight_.clear();
    return result_;
}

bool RegionRun::stopping()
{
    if (!stopped_ && callbacks_.stopRequested && callbacks_.stopRequested()) {
        stopped_ = true;
    }
    return stopped_;
}

void RegionRun::startTiles()
{
    const qint64 count = plan_.tilecount();
    const auto columns = static_cast<qint64>(plan_.longitudes.size());
    // A tile whose body has arrived no longer holds a connection: the next request overlaps
    // with writing it.
    const auto onNetwork = [this] {
        return std::count_if(inFlight_.begin(), inFlight_.end(),
                             [](const Tile& t) { return t.onNetwork; });
    };
    while (onNetwork() < connections_ && next_ < count && !stopping()) {
        const qint64 position = next_++;
        settings_.latitude = plan_.latitudes[static_cast<std::size_t>(position / columns)];
        settings_.longitude = plan_.longitudes[static_cast<std::size_t>(position % columns)];
        settings_.latitude += centreShift;
        settings_.longitude += centreShift;
        Tile& tile = inFlight_.emplace_back();
        tile.url = generateurl(settings_, modeLarge, serviceAddress_);
        tile.path = folder_.pathOf(regionTileName(settings_));
        tile.place = common::pictureGeoTransform(settings_.latitude, settings_.longitude,
                                                 settings_.zoom, largeSide, largeSide);
        startTransfer(tile);
    }
    if (inFlight_.empty() && loop_ != nullptr) {
        loop_->quit();
    }
}

void RegionRun::startTransfer(Tile& tile)
{
    tile.onNetwork = true;
    try {
        // GIS programs open the tile in place, and the exporter knows its exact centre, which
        // the name gives only to two decimals.
        std::vector<FileBeside> place{
            {common::worldFilePath(tile.path), common::worldFileText(tile.place)},
            {common::auxFilePath(tile.path), common::auxFileText(tile.place)}};
        tile.transfer = fetcher_.start(
            tile.url, tile.path,
            [this, &tile](FetchResult r) { transferEnded(tile, std::move(r)); },
            [this, &tile] {
                tile.onNetwork = false;
                startTiles();
            },
            std::move(place));
    } catch (const common::Failure& failure) {
        // The request could not even be made: no retry helps.
        transferEnded(tile, FetchResult{failure, false, {}});
    }
}

void RegionRun::transferEnded(Tile& tile, FetchResult result)
{
    if (!result.failure) {
        const QString path = tile.path;
        remove(tile);
        ++result_.stored;
        if (callbacks_.tileStored) {
            callbacks_.tileStored(path, result_.stored);
        }
        startTiles();
        return;
    }
    tile.lastFailure = result.failure->text();
    if (result.failure->transient() && tile.attempt < retry_.retries && !stopping()) {
        tile.transfer.reset();
        retryLater(tile);
        return;
    }
    giveUp(tile);
}

void RegionRun::giveUp(Tile& tile)
{
    if (!result_.failure) {
        result_.failure = tileFailedMessage(tile.path, tile.lastFailure);
    }
    stopped_ = true;
    remove(tile);
    startTiles();
}

void RegionRun::retryLater(Tile& tile)
{
    QTimer::singleShot(retry_.pauseMs, &timers_, [this, &tile] {
        if (stopping()) {
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
