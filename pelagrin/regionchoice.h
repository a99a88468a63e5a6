#pragma once

// The region the window would download: between two corners, or along a route.
#include "common/result.h"
#include "common/tilefolder.h"
#include "pelagrin/corners.h"
#include "pelagrin/region.h"
#include "pelagrin/route.h"

#include <optional>
#include <vector>

namespace pelagrin {

// A route as the window holds it: its lines made continuous (see continuousRoute), and its
// file's name.
struct ChosenRoute {
    Route route;
    QString name;
};

struct RegionChoice {
    RegionPlan plan;
    // Along a route: the positions of the corridor's tiles, ascending; between corners: none,
    // every tile of the plan.
    std::optional<std::vector<qint64>> positions;

    qint64 tilecount() const
    {
        return positions ? static_cast<qint64>(positions->size()) : plan.tilecount();
    }
    // The positions to fetch, all of them as a list.
    std::vector<qint64> allPositions() const;
};

// The region of |settings|'s corners, or, with a |route|, of the corners routeCorners gives for
// it |widthKm| wide (written into |settings|, so that the start message names them) and the
// tiles along it. An error for a zoom above maxBeginZoom along a route and for a plan too large.
common::Result<RegionChoice> chooseRegion(MapSettings& settings, const RegionSteps& steps,
                                          const Route* route, double widthKm, const QString& host,
                                          const common::TileFolder& folder);

} // namespace pelagrin
