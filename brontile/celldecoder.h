#pragma once

#include "common/result.h"

#include <QFuture>
#include <QImage>
#include <QSize>
#include <QStringList>
#include <QThreadPool>

#include <vector>

namespace brontile {

// A cell's picture, or the reader's reason why the file is no picture.
using Cell = common::Result<QImage>;

// Decodes the pictures of the grid ahead of their placement on a small pool of threads (one
// per core) and keeps each only at the size of its cell, never at full size. Pictures are
// taken in the order they were given.
class CellDecoder {
public:
    CellDecoder(const QStringList& paths, QSize cellSize);
    ~CellDecoder();
    CellDecoder(const CellDecoder&) = delete;
    CellDecoder& operator=(const CellDecoder&) = delete;

    // The picture of |paths[index]| scaled to the cell, waiting for it if need be.
    Cell take(int index);

private:
    QThreadPool pool_;
    std::vector<QFuture<Cell>> results_;
};

// |path| read and scaled to |cellSize|, or why it cannot be read.
Cell decodeCell(const QString& path, QSize cellSize);

} // namespace brontile
