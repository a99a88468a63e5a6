#include "mapservice/protocol/geometry.h"

#include "common/tilegeometry.h"

#include <algorithm>
#include <cmath>

namespace mapservice {

Geometry::Geometry(const MapRequest& request)
    : centre(request.centre),
      // Below a millionth of a millionth of a degree the scale means nothing, and smaller
      // values would vanish into 0 and divide by it.
      degreesPerPixel(std::max(common::degreesPerPixel(request.zoom), 1e-12)), width(request.width),
      height(request.height)
{}

double Geometry::span() const
{
    return std::max(width, height) * degreesPerPixel;
}

Graticule graticuleFor(const Geometry& g)
{
    static constexpr double coarse[] = {1, 2, 5, 10, 15, 30, 45, 90};
    static constexpr double fine[] = {0.5,  0.25,  0.2,   0.1,   0.05,  0.02,
                                      0.01, 0.005, 0.002, 0.001, 0.0005};
    Graticule result{90, 0};
    for (const double step : coarse) {
        if (step / g.degreesPerPixel >= minimumSpacing) {
            result.major = step;
            break;
        }
    }
    // Whole degrees crossing the picture, in the direction with fewer of them.
    const auto wholeDegrees = [](double from, double to) {
        return std::floor(to) - std::ceil(from) + 1;
    };
    const double lines = std::min(wholeDegrees(g.lonAt(0), g.lonAt(g.width)),
                                  wholeDegrees(g.latAt(g.height), g.latAt(0)));
    const double span = std::min(g.width, g.height) * g.degreesPerPixel;
    if (result.major == 1 && lines < 3) {
        for (const double step : fine) {
            result.fine = step;
            if (span / step >= 3) {
                break;
            }
        }
    }
    return result;
}

} // namespace mapservice
