#pragma once

// Everything Brontile tells the user, in one place.
#include "common/sharedmessages.h"

#include <QString>
#include <QStringList>

namespace brontile {

inline const QString& noImagesMessage = common::mustDownloadFirstMessage;
inline const QString readyMessage = QStringLiteral("Ready");

// The tiles that could not be shown, one "path (reason)" a line.
inline QString unreadableTilesMessage(const QStringList& lines)
{
    return QStringLiteral("These tiles could not be shown as pictures:\n") + lines.join(u'\n');
}

} // namespace brontile
