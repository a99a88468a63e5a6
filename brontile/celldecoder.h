#pragma once

#include <QFuture>
#include <QImage>
#include <QSize>
#include <QStringList>
#include <QThreadPool>

#include <optional>
#include <vector>

namespace brontile {

// Decodes the pictures of the grid ahead of their placement on a small pool of threads (one
// per core) and keeps each only at the size of its cell, never at full size. Pictures are
// taken in the order they were given.
class CellDecoder {
public:
    CellDecoder(const QStringList& paths, QSize cellSize);
    ~CellDecoder();
    CellDecoder(const CellDecoder&) = delete;
    CellDecoder& operator=(const CellDecoder&) = delete;

    // The picture of |paths[index]| scaled to the cell, waiting for it if need be; nothing when
    // the file cannot be read as a picture.
    std::optional<QImage> take(int index);

private:
    QThreadPool pool_;
    std::vector<QFuture<std::optional<QImage>>> results_;
};

// |path| read and scaled to |cellSize|; nothing when it is no picture.
std::optional<QImage> decodeCell(const QString& path, QSize cellSize);

} // namespace brontile
