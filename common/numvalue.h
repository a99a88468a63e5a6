#pragma once

#include <QString>

namespace common {

// The one text-to-number reading of the suite, for the windows' inputs and the numbers in
// tile file names. Independent of the locale:
//  - blanks, tabs and line feeds are ignored wherever they stand ("4 8" reads 48);
//  - then an optional sign, digits with "." as the only decimal point and an optional
//    exponent (E or D, either case) are read up to the first character that cannot continue
//    the number; the rest is ignored ("48,5" reads 48, "11.25Z150" reads 11.25);
//  - a text starting with &H or &O is read as a hexadecimal or octal whole number;
//  - a text without a number at its start, or one too large for a double, reads 0.
double numvalue(const QString& text);

} // namespace common
