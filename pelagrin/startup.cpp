#include "pelagrin/startup.h"

#include "common/numvalue.h"

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

QString offsetRule(const QString& text)
{
    if (!text.isEmpty() && common::numvalue(text) == 0.0) {
        return QStringLiteral("45");
    }
    return text;
}

} // namespace pelagrin
