#pragma once

#include "common/commandline.h"

// Everything Tramsel tells the user, in one place.
#include "common/sharedmessages.h"

#include <QString>

namespace tramsel {

inline const QString designCaption = QStringLiteral("Tramsel by Ambrel for Pelagrin");
inline const QString& noImagesMessage = common::mustDownloadFirstMessage;
inline const QString noNeighbourMessage =
    QStringLiteral("Es existiert keine Weitere Karte für diese Richtung");

inline const QString helpText = common::windowProgramHelp(
    QStringLiteral("tramsel"),
    QStringLiteral(
        "Shows the tiles in the folder mymaps of the working folder one at a time: i, m, j and k\n"
        "step north, south, west and east, the space bar switches between the fitted and the\n"
        "full-size view.\n"));

} // namespace tramsel
