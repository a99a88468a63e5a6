#include "celldecoder.h"

#include <QImageReader>
#include <QtConcurrent>

namespace brontile {

std::optional<QImage> decodeCell(const QString& path, QSize cellSize)
{
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    const QImage full = reader.read();
    if (full.isNull()) {
        return std::nullopt;
    }
    return full.scaled(cellSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

CellDecoder::CellDecoder(QStringList paths, QSize cellSize)
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

std::optional<QImage> CellDecoder::take(int index)
{
    auto& result = results_[static_cast<std::size_t>(index)];
    std::optional<QImage> picture = result.result();
    result = {}; // the window keeps its own copy
    return picture;
}

} // namespace brontile
