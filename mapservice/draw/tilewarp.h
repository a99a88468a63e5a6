#pragma once

#include "common/result.h"
#include "mapservice/draw/halt.h"
#include "mapservice/draw/image.h"
#include "mapservice/protocol/geometry.h"
#include "mapservice/protocol/tileask.h"

#include <string>

namespace mapservice {

// |picture|, drawn in the plate carree geometry |g|, warped by GDAL into |tile|'s Web Mercator
// grid (bilinear) and encoded in the tile's format; or GDAL's reason, or a time-out once |halt|
// says so.
common::Result<std::string> warpToTile(const Picture& picture, const Geometry& g,
                                       const TileAsk& tile, const Halt& halt = {});

// The bytes of an RGB picture encoded by GDAL as |format|.
common::Result<std::string> encodeTile(const RgbImage& image, TileFormat format);

} // namespace mapservice
