#include "pelagrin/picturepoint.h"

#include "common/numvalue.h"

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

Corners dragCorners(const FetchedPicture& picture, QPointF from, QPointF to, double shownWidth,
                    double shownHeight, double zoom)
{
    const common::Centre northWest = pointOnPicture(
        picture, std::min(from.x(), to.x()), std::min(from.y(), to.y()), shownWidth, shownHeight);
    common::Centre southEast = pointOnPicture(picture, std::max(from.x(), to.x()),
                                              std::max(from.y(), to.y()), shownWidth, shownHeight);
    if (southEast.longitude < northWest.longitude) {
        southEast.longitude += 360;
    }
    // Through the text a click puts into the centre boxes, as the buttons read it.
    const auto corner = [zoom](double value) {
        return cornerValue(common::numvalue(pointText(value)), zoom);
    };
    return {.beginlat = corner(northWest.latitude),
            .beginlong = corner(northWest.longitude),
            .endlat = corner(southEast.latitude),
            .endlong = corner(southEast.longitude)};
}

QString pointText(double value)
{
    const QString text = QString::number(value, 'f', 6);
    return text == u"-0.000000" ? QStringLiteral("0.000000") : text;
}

} // namespace pelagrin
