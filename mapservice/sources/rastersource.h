#pragma once

#include "common/gdal.h"
#include "mapservice/sources/drawnsource.h"
#include "mapservice/sources/source.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace mapservice {

// A map from anything GDAL opens as a raster on this machine: a GeoTIFF, MBTiles or VRT file.
// Its credit is the request's attribution, else the one the source's metadata gives
// ("attribution", or a TIFF's copyright). Each picture is the drawn map with the raster warped
// over it into the picture's own plate carree grid; where the raster has no data (outside its
// area, beyond the latitudes Web Mercator reaches) the drawn map shows through, and the legend
// stays on top. A picture across +-180 degrees is warped once per world it shows.
class RasterSource : public LocalSource {
public:
    // Opens |connection| (a file name or GDAL connection string) to check it; a refusal names
    // it and says why it cannot be used. |shores| draws what lies under the raster.
    static common::Result<std::unique_ptr<RasterSource>> open(const std::string& connection,
                                                              const ShoreData& shores);
    ~RasterSource() override;

    common::Result<Picture> draw(const MapRequest& request, const Halt& halt) const override;
    // Identified by the file's name, device and inode, size and time, which is its
    // Last-Modified. A file replaced or rewritten is opened anew before the next picture.
    Freshness freshness(const MapRequest& request, const Gathered* gathered) const override;

private:
    // A dataset of this source that no other thread uses meanwhile; back to the pool when the
    // lease ends.
    class Lease {
    public:
        Lease(const RasterSource& owner, common::gdal::Dataset dataset, std::string identity)
            : owner_(&owner), dataset_(std::move(dataset)), identity_(std::move(identity))
        {}
        Lease(Lease&&) = default;
        Lease& operator=(Lease&&) = delete;
        ~Lease();
        GDALDatasetH handle() const { return common::gdal::handle(dataset_); }
        // The file's identity when it was opened.
        const std::string& identity() const { return identity_; }

    private:
        const RasterSource* owner_;
        common::gdal::Dataset dataset_;
        std::string identity_;
    };

    // A dataset no thread uses now, and the identity of the file it was opened from.
    struct Idle {
        common::gdal::Dataset dataset;
        std::string identity;
    };

    RasterSource(std::string connection, const ShoreData& shores, common::gdal::Dataset first,
                 std::string identity);

    common::Result<Lease> acquire() const;

    std::string connection_;
    DrawnSource drawn_;
    std::string attribution_; // from the source's metadata
    mutable std::mutex mutex_;
    mutable std::vector<Idle> idle_; // one per thread that drew at once
};

} // namespace mapservice
