#include "brontile/celldecoder.h"

#include "common/errortext.h"

#include <QImageReader>
#include <QtConcurrent>

namespace brontile {

Cell decodeCell(const QString& path, QSize cellSize)
{
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    const QImage full = reader.read();
    if (full.isNull()) {
        return common::makeError(common::ErrorKind::BadInput, reader.errorString());
    }
    // A fast reduction to four times the cell first, then a smooth one: nearly the look of a
    // smooth reduction from full size at a fraction of its cost.
    const QSize between = cellSize * 4;
    const QImage reduced = full.width() > between.width() && full.height() > between.height()
                               ? full.scaled(between, Qt::IgnoreAspectRatio, Qt::FastTransformation)
                               : full;
    return reduced.scaled(cellSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

CellDecoder::CellDecoder(const QStringList& paths, QSize cellSize)
{
    pool_.setMaxThreadCount(std::max(1, QThread::idealThreadCount()));
    results_.reserve(static_cast<std::size_t>(paths.size()));
    for (const QString& path : paths) {
        results_.push_back(QtConcurrent::run(&pool_, decodeCell, path, cellSize));
    }
}

CellDecoder::~CellDecoder()
{
    for (auto& result : results_) {
        result.cancel();
    }
    pool_.waitForDone();
}

Cell CellDecoder::take(int index)
{
    auto& result = results_[static_cast<std::size_t>(index)];
    Cell picture = result.result();
    result = {}; // the window keeps its own copy
    return picture;
}

} // namespace brontile
