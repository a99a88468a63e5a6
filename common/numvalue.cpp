#include "common/numvalue.h"

#include <charconv>
#include <cmath>
#include <string>

namespace common {

namespace {

bool ignorable(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n';
}

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

// The text with the ignorable characters taken out, so that the scanner below never has to
// think about them.
QString squeezed(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (!ignorable(c)) {
            out.append(c);
        }
    }
    return out;
}

// Value of |c| as a digit of base |radix|, or -1.
int digitValue(QChar c, int radix)
{
    const char16_t u = c.toLower().unicode();
    int d = -1;
    if (u >= u'0' && u <= u'9') {
        d = u - u'0';
    } else if (u >= u'a' && u <= u'f') {
        d = u - u'a' + 10;
    }
    return d < radix ? d : -1;
}

double radixWholeNumber(const QString& digits, int radix)
{
    double value = 0;
    for (const QChar c : digits) {
        const int d = digitValue(c, radix);
        if (d < 0) {
            break;
        }
        value = value * radix + d;
    }
    return std::isfinite(value) ? value : 0.0;
}

} // namespace

double numvalue(const QString& text)
{
    const QString s = squeezed(text);
    if (s.size() >= 2 && s[0] == u'&') {
        const QChar kind = s[1].toUpper();
        if (kind == u'H') {
            return radixWholeNumber(s.mid(2), 16);
        }
        if (kind == u'O') {
            return radixWholeNumber(s.mid(2), 8);
        }
        return 0.0;
    }

    // Collect the leading number into a plain ASCII form that from_chars accepts.
    std::string number;
    qsizetype i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) {
        negative = s[i] == u'-';
        ++i;
    }
    bool mantissaDigits = false;
    while (i < s.size() && isDigit(s[i])) {
        number.push_back(static_cast<char>(s[i++].unicode()));
        mantissaDigits = true;
    }
    if (i < s.size() && s[i] == u'.') {
        number.push_back('.');
        ++i;
        while (i < s.size() && isDigit(s[i])) {
            number.push_back(static_cast<char>(s[i++].unicode()));
            mantissaDigits = true;
        }
    }
    if (!mantissaDigits) {
        return 0.0;
    }
    if (i < s.size() && (s[i].toUpper() == u'E' || s[i].toUpper() == u'D')) {
        qsizetype j = i + 1;
        std::string exponent = "e";
        if (j < s.size() && (s[j] == u'+' || s[j] == u'-')) {
            exponent.push_back(static_cast<char>(s[j++].unicode()));
        }
        bool exponentDigits = false;
        while (j < s.size() && isDigit(s[j])) {
            exponent.push_back(static_cast<char>(s[j++].unicode()));
            exponentDigits = true;
        }
        if (exponentDigits) {
            number += exponent;
        }
    }
    if (number.front() == '.') {
        number.insert(number.begin(), '0');
    }

    double value = 0.0;
    const auto res = std::from_chars(number.data(), number.data() + number.size(), value);
    if (res.ec != std::errc()) {
        return 0.0; // out of a double's range: no usable value
    }
    return negative ? -value : value;
}

} // namespace common
