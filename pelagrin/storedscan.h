#pragma once

// Which tiles of a region are already stored, told from their names and the small files beside
// them (the whole GIF walk stays for the question before a download). Meant to run off the
// window's thread.
#include "pelagrin/region.h"

#include <QDateTime>
#include <QString>

#include <atomic>
#include <map>
#include <optional>
#include <vector>

namespace pelagrin {

struct StoredScan {
    std::vector<qint64> stored; // plan positions, ascending
    std::vector<qint64> old;    // those of |stored| last written before the refresh age
    // Sizes of stored tiles of the plan's map code and zoom: the region's own, else others in
    // the tile folder (at most a thousand).
    std::vector<qint64> sizes;
};

// The stored tiles among |positions| of |plan| (all of them when none are given): a GIF that
// is not empty with its world file and auxiliary file beside it, whose recorded source is the
// one |current| names for its map code (when both are known). Tiles whose GIF was last written
// before |olderThan| are old. Stops early, with what it found so far, once |cancelled| is set.
StoredScan scanStored(const RegionPlan& plan, const std::optional<std::vector<qint64>>& positions,
                      const std::map<QString, QString>& current, const QDateTime& olderThan,
                      const std::atomic<bool>& cancelled);

// The positions of |plan|'s tiles in place (those of |positions| not |missing|) whose GIF was
// last written before |olderThan|, in plan order.
std::vector<qint64> olderTiles(const RegionPlan& plan, const std::vector<qint64>& positions,
                               const std::vector<qint64>& missing, const QDateTime& olderThan);

} // namespace pelagrin
