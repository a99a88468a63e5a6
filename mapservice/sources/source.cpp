#include "mapservice/sources/source.h"

namespace mapservice {

common::Error haltedError()
{
    return common::timedOut("the picture is no longer wanted", 504);
}

// By value, as sources that gather keep it.
void Source::gather(const MapRequest& /*request*/, const Wanted& /*wanted*/,
                    Gathering done) const // NOLINT(performance-unnecessary-value-param)
{
    done(GatheredPtr{});
}

std::vector<MapLayer> standardLayers()
{
    return {{"EUR0407", "Map type 1, Europe", {}, 19},
            {"USA407", "Map type 1, America", {}, 19},
            {"EURO809", "Map type 1, the downloader's start", {}, 19},
            {"WLD0407", "Map type 2", {}, 19}};
}

std::vector<MapLayer> Source::layers() const
{
    return standardLayers();
}

// By value, as sources that gather keep it.
void Source::gatherTile(const TileAsk& /*tile*/, const Wanted& /*wanted*/,
                        Gathering done) const // NOLINT(performance-unnecessary-value-param)
{
    done(common::permanent("this source passes no tiles", 500));
}

Freshness Source::freshness(const MapRequest& /*request*/, const Gathered* /*gathered*/) const
{
    return Freshness();
}

} // namespace mapservice
