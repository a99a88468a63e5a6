#pragma once

#include <QByteArray>
#include <QString>

namespace common {

// Replaces the file at |path| with |bytes| as a whole: the bytes go to a temporary file beside
// it, which then takes the file's place. After a failure the file is exactly as it was.
// Throws common::Failure naming the file.
void writeFileAtomically(const QString& path, const QByteArray& bytes);

} // namespace common
