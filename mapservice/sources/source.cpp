#include "mapservice/sources/source.h"

#include "mapservice/draw/palette.h"

namespace mapservice {

// By value, as sources that gather keep it.
void Source::gather(const MapRequest& /*request*/, const Wanted& /*wanted*/,
                    Gathering done) const // NOLINT(performance-unnecessary-value-param)
{
    done(GatheredPtr{});
}

Freshness Source::freshness(const MapRequest& /*request*/, const Gathered* /*gathered*/) const
{
    return Freshness();
}

Freshness DrawnSource::freshness(const MapRequest& /*request*/, const Gathered* /*gathered*/) const
{
    return Freshness("drawn");
}

common::Result<Picture> DrawnSource::draw(const MapRequest& request) const
{
    const Palette palette = paletteFor(request.mapcode);
    return Picture{render(request, shores_),
                   {palette.begin(), palette.end()},
                   request.attribution.empty() ? std::string(drawnCredit) : request.attribution,
                   {}};
}

} // namespace mapservice
