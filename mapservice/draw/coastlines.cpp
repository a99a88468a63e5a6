#include "mapservice/draw/coastlines.h"

#include <netcdf.h>

namespace mapservice {

namespace {

class NetcdfFile {
public:
    explicit NetcdfFile(const std::string& path)
    {
        status_ = nc_open(path.c_str(), NC_NOWRITE, &id_);
    }
    ~NetcdfFile()
    {
        if (status_ == NC_NOERR) {
            nc_close(id_);
        }
    }
    NetcdfFile(const NetcdfFile&) = delete;
    NetcdfFile& operator=(const NetcdfFile&) = delete;

    bool ok() const { return status_ == NC_NOERR; }
    std::string error() const { return nc_strerror(status_); }

    // The whole variable |name| as ints (shorts and bytes widened).
    bool read(const char* name, std::vector<int>& values, std::size_t expected)
    {
        int var = 0;
        int dims[NC_MAX_VAR_DIMS];
        int ndims = 0;
        std::size_t length = 1;
        status_ = nc_inq_varid(id_, name, &var);
        if (status_ == NC_NOERR) {
            status_ = nc_inq_varndims(id_, var, &ndims);
        }
        if (status_ == NC_NOERR && ndims == 1) {
            status_ = nc_inq_vardimid(id_, var, dims);
        }
        if (status_ == NC_NOERR && ndims == 1) {
            status_ = nc_inq_dimlen(id_, dims[0], &length);
        }
        if (status_ != NC_NOERR || ndims != 1 || (expected != 0 && length != expected)) {
            if (status_ == NC_NOERR) {
                status_ = NC_EDIMSIZE;
            }
            return false;
        }
        values.resize(length);
        status_ = nc_get_var_int(id_, var, values.data());
        return status_ == NC_NOERR;
    }

    int scalar(const char* name)
    {
        std::vector<int> value;
        return read(name, value, 1) ? value[0] : 0;
    }

private:
    int id_ = 0;
    int status_ = NC_NOERR;
};

} // namespace

common::Result<Coastlines> Coastlines::load(const std::string& path)
{
    NetcdfFile file(path);
    if (!file.ok()) {
        return common::permanent(path + ": " + file.error());
    }
    Coastlines c;
    const int minutes = file.scalar("Bin_size_in_minutes");
    c.binsAcross_ = file.scalar("N_bins_in_360_longitude_range");
    c.binsDown_ = file.scalar("N_bins_in_180_degree_latitude_range");
    const int bins = file.scalar("N_bins_in_file");
    const int segments = file.scalar("N_segments_in_file");
    const int points = file.scalar("N_points_in_file");
    if (!file.ok() || minutes <= 0 || bins != c.binsAcross_ * c.binsDown_ || segments < 0 ||
        points < 0) {
        return common::permanent(path + ": not a binned shoreline file");
    }
    c.binSize_ = minutes / 60.0;
    std::vector<int> info;
    std::vector<int> firstPoint;
    std::vector<int> dlon;
    std::vector<int> dlat;
    std::vector<int> nodeLevels;
    const auto nBins = static_cast<std::size_t>(bins);
    const auto nSegments = static_cast<std::size_t>(segments);
    const auto nPoints = static_cast<std::size_t>(points);
    if (!file.read("Id_of_first_segment_in_a_bin", c.firstSegment_, nBins) ||
        !file.read("N_segments_in_a_bin", c.segmentsInBin_, nBins) ||
        !file.read("Embedded_node_levels_in_a_bin", nodeLevels, nBins) ||
        !file.read("Embedded_npts_levels_exit_entry_for_a_segment", info, nSegments) ||
        !file.read("Id_of_first_point_in_a_segment", firstPoint, nSegments) ||
        !file.read("Relative_longitude_from_SW_corner_of_bin", dlon, nPoints) ||
        !file.read("Relative_latitude_from_SW_corner_of_bin", dlat, nPoints)) {
        return common::permanent(path + ": " + file.error());
    }

    // Points are stored per bin, relative to its south-west corner in 1/65535 of the bin size.
    // Bins run west to east from longitude 0, rows north to south from latitude 90.
    c.points_.resize(nPoints);
    c.segmentStart_.assign(nSegments, 0);
    c.segmentLength_.assign(nSegments, 0);
    c.segmentLevel_.assign(nSegments, 1);
    // The levels of a bin's four corners, three bits each from the south-west one on.
    c.southWestLevel_.resize(nBins);
    for (std::size_t bin = 0; bin < nBins; ++bin) {
        c.southWestLevel_[bin] = (nodeLevels[bin] >> 9) & 7;
    }
    for (std::size_t bin = 0; bin < nBins; ++bin) {
        const std::size_t column = bin % static_cast<std::size_t>(c.binsAcross_);
        const std::size_t row = bin / static_cast<std::size_t>(c.binsAcross_);
        const double west = static_cast<double>(column) * c.binSize_;
        const double south = 90 - static_cast<double>(row + 1) * c.binSize_;
        for (int s = 0; s < c.segmentsInBin_[bin]; ++s) {
            const auto segment =
                static_cast<std::size_t>(c.firstSegment_[bin]) + static_cast<std::size_t>(s);
            if (segment >= nSegments) {
                return common::permanent(path + ": segment index out of range");
            }
            const auto first = static_cast<std::size_t>(firstPoint[segment]);
            const auto count = static_cast<std::size_t>(info[segment] >> 9);
            if (first + count > nPoints) {
                return common::permanent(path + ": point index out of range");
            }
            c.segmentStart_[segment] = static_cast<int>(first);
            c.segmentLength_[segment] = static_cast<int>(count);
            c.segmentLevel_[segment] = (info[segment] >> 6) & 7;
            for (std::size_t p = first; p < first + count; ++p) {
                const double x = static_cast<double>(dlon[p] & 0xffff) / 65535.0;
                const double y = static_cast<double>(dlat[p] & 0xffff) / 65535.0;
                c.points_[p] = {static_cast<float>(west + x * c.binSize_),
                                static_cast<float>(south + y * c.binSize_)};
            }
        }
    }
    return c;
}

ShoreFiles loadShoreFiles(const std::string& folder)
{
    ShoreFiles files;
    const auto load = [&](char resolution, std::optional<Coastlines>& into) {
        auto shores = Coastlines::load(folder + "/binned_GSHHS_" + resolution + ".nc");
        if (shores) {
            into = std::move(shores).value();
        } else {
            files.errors += shores.error().text + "\n";
        }
    };
    load('c', files.crude);
    load('l', files.low);
    load('i', files.intermediate);
    load('h', files.high);
    return files;
}

} // namespace mapservice
