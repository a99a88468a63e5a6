#pragma once

#include "common/result.h"

#include <QImage>
#include <QString>

namespace common {

// Reads the picture file at |path|; an error names the file when it is missing or cannot be
// read as a picture.
Result<QImage> loadPicture(const QString& path);

} // namespace common
