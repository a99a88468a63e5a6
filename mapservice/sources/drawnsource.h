#pragma once

#include "mapservice/draw/render.h"
#include "mapservice/sources/source.h"

namespace mapservice {

// The credit of the drawn map: its shoreline data.
constexpr const char* drawnCredit = "Shorelines: GSHHG";

// A source that needs nothing from elsewhere: it gathers nothing and draws at once.
class LocalSource : public Source {
public:
    virtual common::Result<Picture> draw(const MapRequest& request, const Halt& halt) const = 0;
    common::Result<Picture> drawGathered(const MapRequest& request, const Gathered* /*gathered*/,
                                         const Halt& halt) const final
    {
        return draw(request, halt);
    }
};

// The map drawn from the shoreline data: land, lakes, graticule and legend. Its credit is the
// request's attribution, else drawnCredit.
class DrawnSource : public LocalSource {
public:
    explicit DrawnSource(const ShoreData& shores) : shores_(shores) {}
    common::Result<Picture> draw(const MapRequest& request, const Halt& halt) const override;
    Freshness freshness(const MapRequest& request, const Gathered* gathered) const override;

private:
    ShoreData shores_;
};

} // namespace mapservice
