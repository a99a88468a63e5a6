#pragma once

// Everything Tramsel tells the user, in one place.
#include "common/sharedmessages.h"

#include <QString>

namespace tramsel {

inline const QString designCaption = QStringLiteral("Tramsel by Ambrel for Pelagrin");
inline const QString& noImagesMessage = common::mustDownloadFirstMessage;
inline const QString noNeighbourMessage =
    QStringLiteral("Es existiert keine Weitere Karte für diese Richtung");

} // namespace tramsel
