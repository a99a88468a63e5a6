#pragma once

// Texts that more than one program shows.
#include <QString>

namespace common {

// The two viewers' words when there is no tile to show.
inline const QString mustDownloadFirstMessage = QStringLiteral("You must first download images!");

} // namespace common
