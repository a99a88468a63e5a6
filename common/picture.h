#pragma once

#include <QImage>
#include <QString>

namespace common {

// Reads the picture file at |path|. Throws common::Failure naming the file when it is missing
// or cannot be read as a picture.
QImage loadPicture(const QString& path);

} // namespace common
