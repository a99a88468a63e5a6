#pragma once

#include <QString>

namespace pinmark {

// Number fields of the calibration file. Both start from numtext, so "." is the decimal point
// in every locale.

// The number without blanks, right-aligned in a field of |lent| characters; never cut when it
// is wider ("  290" for 290 in 5, "-250" for -250 in 3).
QString formit(double zahl, int lent);

// The number with at least nine fraction digits: a shorter fraction is padded with zeros
// (48.55 -> "48.550000000", 0.5 -> ".500000000"), a longer one is kept as it is.
QString formkomma(double zahl);

} // namespace pinmark
