#pragma once

// A region drawn over the picture Refresh or Preview fetched.
#include "common/picturemark.h"
#include "pelagrin/picturepoint.h"
#include "pelagrin/region.h"
#include "pelagrin/storedscan.h"

#include <optional>
#include <vector>

namespace pelagrin {

// Above this many tiles within the picture, only the region's outer edge is drawn.
constexpr std::size_t maxMarkedTiles = 20'000;

// The marks for the tiles of |plan| (those at |positions|, when given) that fall within
// |picture|: each outlined, the stored ones of |scan| shaded and the old ones in the second
// shade.
std::vector<common::PictureMark> regionMarks(const RegionPlan& plan,
                                             const std::optional<std::vector<qint64>>& positions,
                                             const StoredScan& scan, const FetchedPicture& picture);

} // namespace pelagrin
