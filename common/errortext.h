#pragma once

// The Qt side of common::Error: texts in and out as QString.
#include "common/printable.h"
#include "common/result.h"

#include <QString>

namespace common {

inline QString errorText(const Error& error)
{
    return QString::fromStdString(error.text);
}

// printable() for Qt's strings.
inline QString printable(const QString& text)
{
    return QString::fromStdString(printable(text.toStdString()));
}

inline Error makeError(ErrorKind kind, const QString& text, int status = 0)
{
    return {kind, text.toStdString(), status};
}

} // namespace common
