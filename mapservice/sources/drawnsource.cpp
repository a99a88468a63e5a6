#include "mapservice/sources/drawnsource.h"

#include "mapservice/draw/palette.h"

namespace mapservice {

Freshness DrawnSource::freshness(const MapRequest& /*request*/, const Gathered* /*gathered*/) const
{
    return Freshness("drawn");
}

common::Result<Picture> DrawnSource::draw(const MapRequest& request, const Halt& halt) const
{
    const Palette palette = paletteFor(request.mapcode);
    IndexedImage image = render(request, shores_, halt);
    if (halted(halt)) {
        return haltedError();
    }
    return Picture{std::move(image),
                   {palette.begin(), palette.end()},
                   request.attribution.empty() ? std::string(drawnCredit) : request.attribution,
                   {}};
}

} // namespace mapservice
