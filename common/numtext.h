#pragma once

#include <QString>

namespace common {

// The one number-to-text conversion of the suite, used for every number that goes into a
// request URL, a tile file name, a message or a calibration file.
//
// A value of 0 or more starts with one blank, a negative value with "-". The magnitude follows
// rounded to at most 15 significant digits, with "." as the decimal point in every locale,
// trailing fraction zeros dropped, no point for an integral value and no "0" before the point
// of a magnitude below 1:  48.5 -> " 48.5",  -0.25 -> "-.25",  0 -> " 0".
//
// Every finite value is written in positional form, never with an exponent, however large or
// small: 0.000001 is " .000001" and 1e15 is " 1000000000000000" (digits beyond the 15th are
// zeros). Infinities and NaN give " Inf", "-Inf" and " NaN".
QString numtext(double value);

} // namespace common
