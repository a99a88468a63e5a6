#include "pinmark/formatting.h"

#include "common/numtext.h"

#include <cmath>

namespace pinmark {

namespace {

constexpr qsizetype fractionDigits = 9;

QString bareNumber(double value)
{
    return common::numtext(value).remove(u' ');
}

} // namespace

QString formit(double zahl, int lent)
{
    return bareNumber(zahl).rightJustified(lent, u' ');
}

QString formkomma(double zahl)
{
    QString text = bareNumber(zahl);
    if (!std::isfinite(zahl)) {
        return text; // " Inf" and " NaN" have no fraction to pad
    }
    if (!text.contains(u'.')) {
        text += QStringLiteral(".00");
    }
    const qsizetype point = text.indexOf(u'.');
    const QString whole = text.left(point);
    QString fraction = text.mid(point + 1);
    if (fraction.size() < fractionDigits) {
        fraction = fraction.leftJustified(fractionDigits, u'0');
    }
    return whole + u'.' + fraction;
}

} // namespace pinmark
