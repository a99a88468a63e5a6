#pragma once

#include <QLocale>
#include <QString>

namespace pelagrin {

// The preview file: the picture of the last preview fetch, in the working directory.
inline const QString previewFile = QStringLiteral("temp.gif");

// A start-up preview shorter than this many bytes means there is no usable connection.
constexpr qint64 minimumPreviewBytes = 3000;

// |value| with the decimal sign of |locale|, all significant digits, no group separators and
// always ASCII digits, so that the box reads back as the number whatever the locale writes
// digits with (47.651931 or 47,651931; 50000).
QString localeNumberText(double value, const QLocale& locale = QLocale());

// The start-up fill of a coordinate box turned into the text readsettings reads: the comma and
// the locale's own decimal sign become ".".
QString withDecimalPoint(QString text, const QLocale& locale = QLocale());

// The offset rule of the two divisor boxes: a non-empty text whose leading number is 0
// (0, 0.0, abc, "-", "0,") becomes "45"; any other text stays.
QString offsetRule(const QString& text);

} // namespace pelagrin
