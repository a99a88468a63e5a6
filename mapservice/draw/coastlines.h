#pragma once

#include "common/geobox.h"
#include "common/result.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

namespace mapservice {

// A point of a shoreline in decimal degrees; longitude 0..360 east.
struct GeoPoint {
    float lon;
    float lat;
};

// Shorelines and lake shores of one resolution of the binned GSHHG data set: the world cut
// into square bins, each holding the pieces of shoreline that lie in it.
class Coastlines {
public:
    // Reads a binned GSHHG netCDF file (binned_GSHHS_<c|l|i|h>.nc); the error names the file.
    static common::Result<Coastlines> load(const std::string& path);

    std::size_t segmentCount() const { return segmentStart_.size(); }

    // Calls |draw| for every shoreline piece in the bins that overlap |box| (longitudes of any
    // range, west below east; the world repeats every 360 degrees). Each piece comes with the
    // offset in degrees to add to its longitudes and its level: 1 sea shore, 2 lake shore, 3 island
    // in a lake, 4 pond, 5 and 6 Antarctic shores.
    template <typename Draw> void forEachSegment(const common::GeoBox& box, Draw&& draw) const;

    // A bin as the fill of land sees it: its corner, size, the level at its south-west
    // corner (0 sea, 1 land, 2 lake, 3 island in a lake, 4 pond) and its pieces of shoreline.
    struct Bin {
        double south;
        double west; // with the offset of the world copy already added
        double size;
        int southWestLevel;
        std::size_t index;
    };

    // Calls |visit| for every bin that overlaps the given range (see forEachSegment).
    template <typename Visit> void forEachBin(const common::GeoBox& box, Visit&& visit) const;

    // Calls |draw| for each piece of shoreline of |bin|, with the same arguments as
    // forEachSegment (the offset moves the points into the bin's world copy).
    template <typename Draw> void forEachSegmentOf(const Bin& bin, Draw&& draw) const;

private:
    double binSize_ = 10;
    int binsAcross_ = 36;
    int binsDown_ = 18;
    std::vector<int> firstSegment_;   // per bin
    std::vector<int> segmentsInBin_;  // per bin
    std::vector<int> segmentStart_;   // per segment, index into points_
    std::vector<int> segmentLength_;  // per segment, number of points
    std::vector<int> segmentLevel_;   // per segment
    std::vector<int> southWestLevel_; // per bin
    std::vector<GeoPoint> points_;
};

// The four resolutions of the data set in |folder| (binned_GSHHS_c, _l, _i and _h). One that
// cannot be read stays empty and is named in |errors|, a line each.
struct ShoreFiles {
    std::optional<Coastlines> crude;
    std::optional<Coastlines> low;
    std::optional<Coastlines> intermediate;
    std::optional<Coastlines> high;
    std::string errors;
};
ShoreFiles loadShoreFiles(const std::string& folder);

template <typename Visit>
void Coastlines::forEachBin(const common::GeoBox& box, Visit&& visit) const
{
    // Bounds are clamped before they become integers: at extreme zooms they lie far outside.
    const auto clampedRow = [this](double latitude) {
        return static_cast<int>(std::clamp((90 - latitude) / binSize_, 0.0, binsDown_ - 1.0));
    };
    const int rowFirst = clampedRow(box.north);
    const int rowLast = clampedRow(box.south);
    const double columnLimit = 1e6 * binsAcross_;
    const long columnFirst =
        static_cast<long>(std::clamp(std::floor(box.west / binSize_), -columnLimit, columnLimit));
    const long columnLast =
        static_cast<long>(std::clamp(std::floor(box.east / binSize_), -columnLimit, columnLimit));
    for (int row = rowFirst; row <= rowLast; ++row) {
        for (long column = columnFirst; column <= columnLast; ++column) {
            const long wrapped = ((column % binsAcross_) + binsAcross_) % binsAcross_;
            const std::size_t bin =
                static_cast<std::size_t>(row) * static_cast<std::size_t>(binsAcross_) +
                static_cast<std::size_t>(wrapped);
            visit(Bin{90 - (row + 1) * binSize_, static_cast<double>(column) * binSize_, binSize_,
                      southWestLevel_[bin], bin});
        }
    }
}

template <typename Draw> void Coastlines::forEachSegmentOf(const Bin& bin, Draw&& draw) const
{
    const double offset = bin.west - std::fmod(std::fmod(bin.west, 360.0) + 360.0, 360.0);
    for (int s = 0; s < segmentsInBin_[bin.index]; ++s) {
        const auto segment =
            static_cast<std::size_t>(firstSegment_[bin.index]) + static_cast<std::size_t>(s);
        const auto begin = static_cast<std::size_t>(segmentStart_[segment]);
        draw(&points_[begin], static_cast<std::size_t>(segmentLength_[segment]), offset,
             segmentLevel_[segment]);
    }
}

template <typename Draw>
void Coastlines::forEachSegment(const common::GeoBox& box, Draw&& draw) const
{
    forEachBin(box, [&](const Bin& bin) { forEachSegmentOf(bin, draw); });
}

} // namespace mapservice
