#pragma once

#include "common/groupcommit.h"
#include "common/tilefolder.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace pinmark {

struct BatchResult {
    int written = 0;
    QStringList skipped; // names that are no tile names (control characters shown as "?")
    QStringList clashed; // "name (map file)" whose map file an earlier image of the batch has
    QStringList failed;  // "name: reason" of calibration files that could not be written
};

// Writes the calibration file of every image in |names| (listed from |folder|), in order, each
// as a whole; they go to the disk in groups (common::GroupCommit, through |calls|). After each
// file written and on the disk, |progress| gets the number written so far. A name that is no tile
// name is skipped (a name holding a control character is none), so is an image whose
// calibration file has the name of one written earlier in the batch, and a file that cannot be
// written is noted; the batch goes on either way.
BatchResult runBatch(const common::TileFolder& folder, const QStringList& names,
                     const std::function<void(int)>& progress,
                     common::DurableCalls& calls = common::systemDurableCalls());

} // namespace pinmark
