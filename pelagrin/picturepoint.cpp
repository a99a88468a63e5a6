#include "pelagrin/picturepoint.h"

#include <algorithm>
#include <cmath>

namespace pelagrin {

common::Centre pointOnPicture(const FetchedPicture& picture, double x, double y, double shownWidth,
                              double shownHeight)
{
    const int side = picture.side;
    const auto pixel = [side](double at, double shown) {
        return std::clamp(std::floor(at * side / shown), 0.0, side - 1.0);
    };
    const double d = common::degreesPerPixel(picture.zoom);
    const double half = side / 2.0;
    double lon = picture.centre.longitude + (pixel(x, shownWidth) + 0.5 - half) * d;
    const double lat = picture.centre.latitude - (pixel(y, shownHeight) + 0.5 - half) * d;
    lon = std::fmod(lon + 180, 360);
    lon += lon < 0 ? 180 : -180;
    return {std::clamp(lat, -90.0, 90.0), lon};
}

QString pointText(double value)
{
    const QString text = QString::number(value, 'f', 6);
    return text == u"-0.000000" ? QStringLiteral("0.000000") : text;
}

} // namespace pelagrin
