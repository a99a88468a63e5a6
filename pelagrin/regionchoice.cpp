#include "pelagrin/regionchoice.h"

#include "common/errortext.h"
#include "pelagrin/corridor.h"
#include "pelagrin/messages.h"

#include <numeric>

namespace pelagrin {

std::vector<qint64> RegionChoice::allPositions() const
{
    if (positions) {
        return *positions;
    }
    std::vector<qint64> all(static_cast<std::size_t>(plan.tilecount()));
    std::iota(all.begin(), all.end(), qint64{0});
    return all;
}

common::Result<RegionChoice> chooseRegion(MapSettings& settings, const RegionSteps& steps,
                                          const Route* route, double widthKm, const QString& host,
                                          const common::TileFolder& folder)
{
    if (route != nullptr) {
        if (settings.zoom > maxBeginZoom) {
            return common::makeError(common::ErrorKind::BadInput, zoomLimitMessage);
        }
        const Corners c = routeCorners(*route, widthKm, settings.zoom, steps);
        settings.beginlat = c.beginlat;
        settings.beginlong = c.beginlong;
        settings.endlat = c.endlat;
        settings.endlong = c.endlong;
    }
    auto plan = planRegion(settings, steps.latitude, steps.longitude, host, folder);
    if (!plan) {
        return plan.error();
    }
    RegionChoice choice{std::move(plan).value(), std::nullopt};
    if (route != nullptr) {
        choice.positions = corridorTiles(choice.plan, *route, widthKm);
    }
    return choice;
}

} // namespace pelagrin
