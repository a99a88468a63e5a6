#include "common/numtext.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

namespace common {

namespace {

constexpr int significantDigits = 15;

// Splits |magnitude| (finite, > 0) into its significant digits, rounded to 15 and without
// trailing zeros, and the decimal exponent of the first digit: 48.5 -> {"485", 1}.
void decompose(double magnitude, std::string& digits, int& exponent)
{
    std::array<char, 64> buf{};
    // Scientific form with 14 digits after the point gives exactly 15 significant digits,
    // locale-independent: "4.85000000000000e+01".
    const auto res = std::to_chars(buf.data(), buf.data() + buf.size(), magnitude,
                                   std::chars_format::scientific, significantDigits - 1);
    const std::string text(buf.data(), res.ptr);
    const auto ePos = text.find('e');
    exponent = std::atoi(text.c_str() + ePos + 1);
    digits.clear();
    for (std::size_t i = 0; i < ePos; ++i) {
        if (text[i] != '.') {
            digits.push_back(text[i]);
        }
    }
    while (digits.size() > 1 && digits.back() == '0') {
        digits.pop_back();
    }
}

std::string plainForm(const std::string& digits, int exponent)
{
    const int count = static_cast<int>(digits.size());
    if (exponent < 0) {
        // No "0" before the point: 0.05 -> ".05".
        return "." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
    }
    if (exponent + 1 >= count) {
        return digits + std::string(static_cast<std::size_t>(exponent + 1 - count), '0');
    }
    const auto wholeDigits = static_cast<std::size_t>(exponent) + 1;
    return digits.substr(0, wholeDigits) + "." + digits.substr(wholeDigits);
}

} // namespace

QString numtext(double value)
{
    if (std::isnan(value)) {
        return QStringLiteral(" NaN");
    }
    const QString sign = value < 0 ? QStringLiteral("-") : QStringLiteral(" ");
    if (std::isinf(value)) {
        return sign + QStringLiteral("Inf");
    }
    const double magnitude = std::fabs(value);
    if (magnitude == 0.0) {
        return QStringLiteral(" 0");
    }
    if (magnitude < 1e15 && magnitude == std::floor(magnitude)) {
        // Whole numbers (counts, pixels, whole degrees) need no rounding.
        return sign + QString::number(static_cast<qint64>(magnitude));
    }
    std::string digits;
    int exponent = 0;
    decompose(magnitude, digits, exponent);
    // Positional whatever the magnitude: a name or a field with an exponent would not read
    // back as the number anywhere else in the suite.
    const std::string body = plainForm(digits, exponent);
    return sign + QString::fromLatin1(body.data(), static_cast<qsizetype>(body.size()));
}

} // namespace common
