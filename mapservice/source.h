#pragma once

#include "common/result.h"
#include "mapservice/image.h"
#include "mapservice/render.h"
#include "mapservice/request.h"

namespace mapservice {

// Where map pictures come from. A source draws the picture of a request in the request's own
// geometry (see geometry.h); it may be asked from several threads at once.
class Source {
public:
    virtual ~Source() = default;
    virtual common::Result<Picture> draw(const MapRequest& request) const = 0;
};

// The credit of the drawn map: its shoreline data.
constexpr const char* drawnCredit = "Shorelines: GSHHG";

// The map drawn from the shoreline data: land, lakes, graticule and legend. Its credit is the
// request's attribution, else drawnCredit.
class DrawnSource : public Source {
public:
    explicit DrawnSource(const ShoreData& shores) : shores_(shores) {}
    common::Result<Picture> draw(const MapRequest& request) const override;

private:
    ShoreData shores_;
};

} // namespace mapservice
