#include "common/numvalue.h"

#include <gtest/gtest.h>

namespace {

using common::numvalue;

struct NumvalueCase {
    const char* text;
    double value;
};

class NumvalueTable : public ::testing::TestWithParam<NumvalueCase> {};

TEST_P(NumvalueTable, ReadsTheLeadingNumber)
{
    EXPECT_DOUBLE_EQ(numvalue(QString::fromUtf8(GetParam().text)), GetParam().value)
        << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, NumvalueTable,
    ::testing::Values(
        // The reading stops at the first character that cannot continue the number.
        NumvalueCase{"48,5", 48}, NumvalueCase{"11.25Z150", 11.25}, NumvalueCase{"1.2.3", 1.2},
        NumvalueCase{"5-", 5}, NumvalueCase{"47.651931", 47.651931},
        // Blanks, tabs and line feeds are ignored wherever they stand.
        NumvalueCase{"4 8", 48}, NumvalueCase{" \t4\n2", 42}, NumvalueCase{"- 5", -5},
        NumvalueCase{"1 e 3", 1000},
        // No number at the start reads 0.
        NumvalueCase{"abc", 0}, NumvalueCase{"", 0}, NumvalueCase{"-", 0}, NumvalueCase{".", 0},
        NumvalueCase{"x12", 0}, NumvalueCase{"\r5", 0},
        // Signs, fractions without a whole part, exponents.
        NumvalueCase{"-0.25", -0.25}, NumvalueCase{"+7", 7}, NumvalueCase{".5", 0.5},
        NumvalueCase{"-.24", -0.24}, NumvalueCase{"5.", 5}, NumvalueCase{"1e3", 1000},
        NumvalueCase{"1E-2", 0.01}, NumvalueCase{"2D2", 200}, NumvalueCase{"1e", 1},
        NumvalueCase{"1e+", 1}, NumvalueCase{"1e-400", 0}, NumvalueCase{"1e999", 0},
        // Hexadecimal and octal whole numbers.
        NumvalueCase{"&HFF", 255}, NumvalueCase{"&hff", 255}, NumvalueCase{"&O17", 15},
        NumvalueCase{"&O19", 1}, NumvalueCase{"&Hxyz", 0}, NumvalueCase{"&X1", 0},
        // Digits of other scripts are no digits here.
        NumvalueCase{"\xd9\xa3", 0}));

} // namespace
