#pragma once

// The GeoTIFF export: the mosaic as GDAL's cloud-optimised GeoTIFF in longitude and latitude,
// tiled, compressed, with overviews; where no tile is, the blocks are left out of the file, so
// gaps cost no disk.
#include "common/result.h"
#include "mapexport/format.h"

namespace mapexport {

common::Status writeGeoTiff(const ExportJob& job);

} // namespace mapexport
