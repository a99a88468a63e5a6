#include "common/numtext.h"
#include "common/numvalue.h"

#include <QLocale>

#include <gtest/gtest.h>

#include <clocale>
#include <limits>

namespace {

using common::numtext;
using common::numvalue;

struct NumtextCase {
    double value;
    const char* text;
};

class NumtextTable : public ::testing::TestWithParam<NumtextCase> {};

TEST_P(NumtextTable, WritesTheSuitesNumberText)
{
    EXPECT_EQ(numtext(GetParam().value), QString::fromLatin1(GetParam().text));
}

INSTANTIATE_TEST_SUITE_P(
    Values, NumtextTable,
    ::testing::Values(
        // Leading blank for 0 or more, "-" for negatives, no "0" before the point.
        NumtextCase{48.500001, " 48.500001"}, NumtextCase{-73.999999, "-73.999999"},
        NumtextCase{150, " 150"}, NumtextCase{0, " 0"}, NumtextCase{-0.0, " 0"},
        NumtextCase{0.5, " .5"}, NumtextCase{-0.25, "-.25"}, NumtextCase{50000, " 50000"},
        NumtextCase{47.651931, " 47.651931"}, NumtextCase{9.476379, " 9.476379"},
        // Coordinates near 0 after the centre shift stay in plain form.
        NumtextCase{0.000001, " .000001"}, NumtextCase{-0.000001, "-.000001"},
        NumtextCase{0.00012, " .00012"},
        // Rounded to 15 significant digits, trailing zeros dropped.
        NumtextCase{1.0 / 3.0, " .333333333333333"}, NumtextCase{2.0 / 3.0, " .666666666666667"},
        NumtextCase{123456789.123456789, " 123456789.123457"}, NumtextCase{0.1 + 0.2, " .3"},
        NumtextCase{47.999999 + 0.000001, " 48"}, NumtextCase{0.99999999999999994, " 1"},
        NumtextCase{99999999999999.9, " 99999999999999.9"},
        NumtextCase{100000000000000.0, " 100000000000000"},
        // Beyond what coordinates and counts produce, still no exponent: a name or a field
        // with one would not read back. Digits past the 15th are zeros.
        NumtextCase{1e15, " 1000000000000000"}, NumtextCase{-2.5e20, "-250000000000000000000"},
        NumtextCase{123456789012345678.0, " 123456789012346000"},
        NumtextCase{1e-21, " .000000000000000000001"}, NumtextCase{-1.5e-7, "-.00000015"},
        NumtextCase{std::numeric_limits<double>::infinity(), " Inf"},
        NumtextCase{std::numeric_limits<double>::quiet_NaN(), " NaN"}));

TEST(Numtext, ReadsBackThroughNumvalueWithinFifteenDigits)
{
    const double values[] = {48.500001, -73.999999, 1.0 / 3.0, 0.000001,   123456.789012345,
                             -0.249999, 1e-20,      4.2e14,    31.4159e200};
    for (const double v : values) {
        EXPECT_NEAR(numvalue(numtext(v)), v, std::abs(v) * 1e-14) << numtext(v).toStdString();
    }
}

TEST(Numtext, NoExponentForAnyFiniteValue)
{
    // (The largest double itself rounds, at 15 digits, beyond what a double holds.)
    const double values[] = {1.5e308, std::numeric_limits<double>::min(),
                             std::numeric_limits<double>::denorm_min(), -1e300, 3e-300};
    for (const double v : values) {
        const QString text = numtext(v);
        EXPECT_FALSE(text.contains(u'E') || text.contains(u'e')) << text.toStdString();
        EXPECT_NEAR(numvalue(text), v, std::abs(v) * 1e-14) << text.toStdString();
    }
}

TEST(Numtext, DecimalPointIsAPointUnderACommaLocale)
{
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const char* cLocale = std::setlocale(LC_ALL, "de_DE.UTF-8");
    EXPECT_EQ(numtext(48.5), QStringLiteral(" 48.5"));
    EXPECT_EQ(numtext(-0.25), QStringLiteral("-.25"));
    EXPECT_DOUBLE_EQ(numvalue(QStringLiteral("48.5")), 48.5);
    EXPECT_DOUBLE_EQ(numvalue(QStringLiteral("48,5")), 48.0);
    if (cLocale != nullptr) {
        std::setlocale(LC_ALL, "C");
    }
    QLocale::setDefault(before);
}

} // namespace
