#pragma once

// The Qt side of common::Error: texts in and out as QString.
#include "common/result.h"

#include <QString>

namespace common {

inline QString errorText(const Error& error)
{
    return QString::fromStdString(error.text);
}

// |text| with every control character (a line break, ESC, BEL ...) shown as "?", so that a
// name from outside stays on its line and cannot steer a terminal.
inline QString printable(QString text)
{
    for (QChar& c : text) {
        if (c.category() == QChar::Other_Control) {
            c = u'?';
        }
    }
    return text;
}

inline Error makeError(ErrorKind kind, const QString& text, int status = 0)
{
    return {kind, text.toStdString(), status};
}

} // namespace common
