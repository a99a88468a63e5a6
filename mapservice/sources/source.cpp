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

Freshness Source::freshness(const MapRequest& /*request*/, const Gathered* /*gathered*/) const
{
    return Freshness();
}

} // namespace mapservice
