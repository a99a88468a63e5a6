#include "startup.h"

#include "numvalue.h"

namespace pelagrin {

QString localeNumberText(double value, const QLocale& locale)
{
    QLocale plain = QLocale::c();
    plain.setNumberOptions(QLocale::OmitGroupSeparator);
    return plain.toString(value, 'f', QLocale::FloatingPointShortest)
        .replace(u'.', locale.decimalPoint());
}

QString withDecimalPoint(QString text, const QLocale& locale)
{
    text.replace(u',', u'.');
    return text.replace(locale.decimalPoint(), QStringLiteral("."));
}

QString unwritableFolderMessage(const QString& folder, const QString& reason)
{
    return QStringLiteral("Pelagrin cannot write into its working folder %1 (%2). It keeps its "
                          "preview and the folder MyMaps there. Pelagrin will now quit.")
        .arg(folder, reason);
}

QString offsetRule(const QString& text)
{
    if (!text.isEmpty() && common::numvalue(text) == 0.0) {
        return QStringLiteral("45");
    }
    return text;
}

} // namespace pelagrin
