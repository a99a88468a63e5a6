#include "mapservice/sources/source.h"

#include "mapservice/draw/palette.h"

#include <future>

namespace mapservice {

// By value, as sources that gather keep it.
void Source::gather(const MapRequest& /*request*/, const Wanted& /*wanted*/,
                    Gathering done) const // NOLINT(performance-unnecessary-value-param)
{
    done(GatheredPtr{});
}

common::Result<Picture> Source::drawGathered(const MapRequest& request,
                                             const Gathered* /*gathered*/) const
{
    return draw(request);
}

Freshness Source::freshness(const MapRequest& /*request*/, const Gathered* /*gathered*/) const
{
    return Freshness();
}

Freshness DrawnSource::freshness(const MapRequest& /*request*/, const Gathered* /*gathered*/) const
{
    return Freshness("drawn");
}

common::Result<Picture> gatherAndDraw(const Source& source, const MapRequest& request)
{
    auto promise = std::make_shared<std::promise<common::Result<GatheredPtr>>>();
    auto future = promise->get_future();
    source.gather(request, Wanted{}, [promise](common::Result<GatheredPtr> gathered) {
        promise->set_value(std::move(gathered));
    });
    // While no server runs the source's loop, this thread does, until the picture is gathered.
    while (future.wait_for(std::chrono::seconds(0)) != std::future_status::ready &&
           source.runNetworkFor(std::chrono::milliseconds(10))) {
    }
    const auto gathered = future.get();
    if (!gathered) {
        return gathered.error();
    }
    return source.drawGathered(request, gathered->get());
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
