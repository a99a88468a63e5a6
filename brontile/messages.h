#pragma once

#include "common/commandline.h"

// Everything Brontile tells the user, in one place.
#include "common/sharedmessages.h"

#include <QString>
#include <QStringList>

namespace brontile {

inline const QString& noImagesMessage = common::mustDownloadFirstMessage;
inline const QString readyMessage = QStringLiteral("Ready");

// "Ready", and the tiles not shown because tiles of another zoom or map hold their places.
inline QString readyLeavingOutMessage(const QStringList& names)
{
    return readyMessage +
           QStringLiteral("\n\nNot shown, as other tiles (of another zoom or map) lie in the "
                          "same places:\n") +
           names.join(u'\n');
}

// The tiles that could not be shown, one "path (reason)" a line.
inline QString unreadableTilesMessage(const QStringList& lines)
{
    return QStringLiteral("These tiles could not be shown as pictures:\n") + lines.join(u'\n');
}

inline const QString helpText = common::windowProgramHelp(
    QStringLiteral("brontile"),
    QStringLiteral(
        "Lays the tiles in the folder mymaps of the working folder out as a grid of small\n"
        "pictures, row by row from the northernmost tile.\n"));

} // namespace brontile
