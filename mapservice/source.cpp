#include "mapservice/source.h"

#include "mapservice/palette.h"

namespace mapservice {

common::Result<Picture> DrawnSource::draw(const MapRequest& request) const
{
    const Palette palette = paletteFor(request.mapcode);
    return Picture{render(request, shores_),
                   {palette.begin(), palette.end()},
                   request.attribution.empty() ? std::string(drawnCredit) : request.attribution};
}

} // namespace mapservice
