#include "corners.h"

#include "numtext.h"

#include <cmath>

namespace pelagrin {

using common::numtext;

double cornerValue(double value, double zoom)
{
    return zoom < wholeDegreeZoom ? value : std::floor(value);
}

QString beginCornerMessage(double beginlat, double beginlong)
{
    return QStringLiteral("OK. Start is Breitengrad ") + numtext(beginlat) +
           QStringLiteral(" and Längengrad ") + numtext(beginlong);
}

QString endCornerMessage(double endlat, double endlong)
{
    return QStringLiteral("OK. End is Breitengrad ") + numtext(endlat) +
           QStringLiteral(" and Längengrad ") + numtext(endlong);
}

} // namespace pelagrin
