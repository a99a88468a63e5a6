#pragma once

// Upstream answers read into red, green, blue and alpha and laid out in memory for the warper.
#include "common/gdal.h"
#include "common/result.h"

#include <ogr_srs_api.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace mapservice {

// The pixels of an upstream answer as red, green, blue and alpha, |width| x |height|, read from
// the part (|column|, |row|) of its 2^|level| x 2^|level| parts (level 0: all of it), enlarged
// or reduced to fit. A file that is no picture is dropped from the cache; |where| names it in
// the failure.
common::Result<std::vector<std::uint8_t>> decodeRgba(const std::string& file, int level,
                                                     std::int64_t column, std::int64_t row,
                                                     int width, int height,
                                                     const std::string& where);

// A MEM dataset of |width| x |height| pixels, red, green, blue and alpha (all transparent).
common::gdal::Dataset rgbaDataset(int width, int height, const std::array<double, 6>& transform,
                                  OGRSpatialReferenceH srs);

// Writes |rgba| (|width| x |height|) at |x|, |y| of |ds|.
common::Status writeRgba(GDALDatasetH ds, int x, int y, int width, int height,
                         std::vector<std::uint8_t>& rgba);

// A spatial reference made from a PROJ string, in longitude, latitude order.
class SpatialReference {
public:
    explicit SpatialReference(const std::string& proj4) : srs_(OSRNewSpatialReference(nullptr))
    {
        OSRImportFromProj4(srs_, proj4.c_str());
        OSRSetAxisMappingStrategy(srs_, OAMS_TRADITIONAL_GIS_ORDER);
    }
    ~SpatialReference() { OSRDestroySpatialReference(srs_); }
    SpatialReference(const SpatialReference&) = delete;
    SpatialReference& operator=(const SpatialReference&) = delete;
    OGRSpatialReferenceH get() const { return srs_; }

private:
    OGRSpatialReferenceH srs_;
};

} // namespace mapservice
