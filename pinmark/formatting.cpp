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
    qsizetype point = text.indexOf(u'.');
    if (point < 0) {
        point = text.size();
        text += u'.';
    }
    const qsizetype fraction = text.size() - point - 1;
    if (fraction < fractionDigits) {
        text.resize(point + 1 + fractionDigits, u'0');
    }
    return text;
}

} // namespace pinmark
