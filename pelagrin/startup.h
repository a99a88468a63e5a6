#pragma once

#include <QLocale>
#include <QString>

namespace pelagrin {

// The preview file: the picture of the last preview fetch, in the working directory.
inline const QString previewFile = QStringLiteral("temp.gif");

// A start-up preview shorter than this many bytes means there is no usable connection.
constexpr qint64 minimumPreviewBytes = 3000;

inline const QString decimalCommaMessage = QStringLiteral(
    "Your system seems not to be up-to-date. Some applications would display , instead of a . "
    "and may also calculate wrong this way. This will not harm the use of Pelagrin, but for your "
    "own interest, you should install the latest service-packs and bugfixes from microsoft to "
    "allow other programms from executing right. For now you can go on.");

inline const QString noConnectionMessage = QStringLiteral(
    "Pelagrin was unable to connect directly to the internet. Please be sure that you have "
    "direct internet access, administrive rights (the MSINET.OCX must be registered -> regsvr32 "
    "MSINET.OCX) and no firewall which blocks the traffic. This programm should work on a "
    "Windows XP machine with Direct Internet Access, All Firewalls disabled and administrative "
    "rights. Pelagrin will now quit.");

inline const QString zoomLimitMessage = QStringLiteral("You must set to zoom 3000 or below");

// |value| with the decimal sign of |locale|, all significant digits, no group separators and
// always ASCII digits, so that the box reads back as the number whatever the locale writes
// digits with (47.651931 or 47,651931; 50000).
QString localeNumberText(double value, const QLocale& locale = QLocale());

// The start-up fill of a coordinate box turned into the text readsettings reads: the comma and
// the locale's own decimal sign become ".".
QString withDecimalPoint(QString text, const QLocale& locale = QLocale());

// The working folder holds the preview file and the tile folder; without it nothing works.
QString unwritableFolderMessage(const QString& folder, const QString& reason);

// The offset rule of the two divisor boxes: a non-empty text whose leading number is 0
// (0, 0.0, abc, "-", "0,") becomes "45"; any other text stays.
QString offsetRule(const QString& text);

} // namespace pelagrin
