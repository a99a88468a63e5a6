#pragma once

#include <QByteArray>
#include <QString>

#include <ostream>

// Readable QString and QByteArray values in GoogleTest's failure messages.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

inline void PrintTo(const QByteArray& bytes, std::ostream* out)
{
    *out << "QByteArray(" << bytes.size() << " bytes)";
}
