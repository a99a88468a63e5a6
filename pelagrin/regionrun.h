#pragma once

#include "common/tilefolder.h"
#include "pelagrin/fetch.h"
#include "pelagrin/region.h"
#include "pelagrin/settings.h"

#include <QObject>
#include <QString>

#include <functional>
#include <list>
#include <memory>
#include <optional>

class QEventLoop;

namespace pelagrin {

// How a region run treats a tile that fails for a passing reason (no connection, time-out,
// server error): tried again |retries| more times, |pauseMs| apart. Any other failure stops
// the run at once.
struct RetryPolicy {
    int retries = 2;
    int pauseMs = 500;
};

// One region download: every tile of a plan fetched into the tile folder, row by row from the
// plan's first latitude, each row in the order of the plan's longitudes.
//
// The run works on the window's settings as a region download does: for each tile it sets the
// centre (shifted by centreShift), builds the request, which may correct the map code, and
// names the tile from the result. Up to |connections| tiles are in flight at once; they are
// started in the plan's order.
class RegionRun {
public:
    struct Callbacks {
        // Read before each tile is started and before each retry; true stops the run there.
        // Tiles in flight are completed.
        std::function<bool()> stopRequested;
        // A tile has been stored at |path|; |stored| tiles have been stored so far.
        std::function<void(const QString& path, qint64 stored)> tileStored;
    };

    struct Result {
        qint64 stored = 0;
        // When a tile failed for good (the run then stopped): the first such tile and why.
        std::optional<QString> failure;
    };

    RegionRun(MapSettings& settings, Fetcher& fetcher, RegionPlan plan, common::TileFolder folder,
              QString serviceAddress, Callbacks callbacks, RetryPolicy retry = {},
              int connections = 1);
    ~RegionRun();
    RegionRun(const RegionRun&) = delete;
    RegionRun& operator=(const RegionRun&) = delete;

    // Runs to the end while a local event loop keeps the window alive, and returns what was
    // done. Call once.
    Result run();

private:
    struct Tile;

    void startTiles();
    void startTransfer(Tile& tile);
    void transferEnded(Tile& tile, FetchResult result);
    void retryLater(Tile& tile);
    // The tile failed for good: the run stops after the tiles in flight.
    void giveUp(Tile& tile);
    void remove(Tile& tile);
    bool stopping();

    MapSettings& settings_;
    Fetcher& fetcher_;
    RegionPlan plan_;
    common::TileFolder folder_;
    QString serviceAddress_;
    Callbacks callbacks_;
    RetryPolicy retry_;
    int connections_;

    qint64 next_ = 0; // plan position of the next tile to start
    bool stopped_ = false;
    Result result_;
    std::list<Tile> inFlight_;
    QObject timers_; // context of the retry pauses: they die with the run
    QEventLoop* loop_ = nullptr;
};

} // namespace pelagrin
