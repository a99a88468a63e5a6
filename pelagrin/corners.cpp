#include "pelagrin/corners.h"

#include <cmath>

namespace pelagrin {

double cornerValue(double value, double zoom)
{
    return zoom < wholeDegreeZoom ? value : std::floor(value);
}

} // namespace pelagrin
