#pragma once

#include "pelagrin/fetch.h"
#include "pelagrin/region.h"

#include <QObject>
#include <QString>

#include <list>
#include <memory>
#include <optional>
#include <vector>

namespace pelagrin {

// How a region run treats a tile that fails for a passing reason (no connection, time-out,
// server error): tried again |retries| more times, |pauseMs| apart. Any other failure stops
// the run.
struct RetryPolicy {
    int retries = 2;
    int pauseMs = 500;
};

// One region download: every job of a plan (or those asked for) fetched into its file, in the
// plan's order, up to
// |connections| at once. It runs from the event loop: start() returns at once, and the signals
// tell what happened. Destroying the run cancels the tiles in flight; their files stay as
// they were.
class RegionRun : public QObject {
    Q_OBJECT
public:
    RegionRun(Fetcher& fetcher, RegionPlan plan, RetryPolicy retry = {}, int connections = 1,
              QObject* parent = nullptr);
    // Fetches only the jobs at |positions| of the plan, in that order.
    RegionRun(Fetcher& fetcher, RegionPlan plan, std::vector<qint64> positions,
              RetryPolicy retry = {}, int connections = 1, QObject* parent = nullptr);
    ~RegionRun() override;

    // Of the jobs to fetch, those at |positions| are stored already and refreshed: asked for with
    // the validator and time of the stored tile, which an answer "304 Not Modified" keeps (its
    // time set to now) and a whole picture replaces. One that fails is kept as it was and
    // counted, and the run goes on. Call before start().
    void setRefresh(std::vector<qint64> positions);

    // Starts the first tiles. Call once.
    void start();
    // No further tile is started, nor a retry; the tiles in flight are completed.
    void stop();

    qint64 stored() const { return stored_; }
    // Tiles refreshed that the service said are unchanged, and those whose refresh failed.
    qint64 kept() const { return kept_; }
    qint64 refreshFailed() const { return refreshFailed_; }

signals:
    // A tile has been stored at |path|; |stored| tiles have been stored so far.
    void tileStored(const QString& path, qint64 stored);
    // A refreshed tile at |path| was unchanged and stays; |done| tiles are through so far (stored
    // and kept).
    void tileKept(const QString& path, qint64 done);
    // A tile failed for good: |text| names it and says why. The run stops once the tiles in
    // flight have ended; only the first such failure is told.
    void tileFailed(const QString& text);
    // Nothing is in flight and nothing more will start. Emitted once, from the event loop.
    void finished(qint64 stored);

private:
    struct Tile;

    void startTiles();
    void startTransfer(Tile& tile);
    void transferEnded(Tile& tile, const common::Status& ended);
    void tileUnchanged(Tile& tile);
    void retryLater(Tile& tile);
    // The tile failed for good: the run stops after the tiles in flight.
    void giveUp(Tile& tile);
    void remove(Tile& tile);

    Fetcher& fetcher_;
    RegionPlan plan_;
    RetryPolicy retry_;
    int connections_;

    std::optional<std::vector<qint64>> positions_; // the jobs to fetch; none: all
    qint64 next_ = 0;                              // how many jobs have been started
    qint64 stored_ = 0;
    qint64 kept_ = 0;
    qint64 refreshFailed_ = 0;
    std::vector<qint64> refresh_; // ascending
    bool stopped_ = false;
    bool failed_ = false;
    bool finished_ = false;
    std::list<Tile> inFlight_;
};

} // namespace pelagrin
