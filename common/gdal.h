#pragma once

// The suite's one way of calling GDAL (the map service's raster sources, the exporter, tests
// and benchmarks): set-up once, datasets owned by a handle that closes them, tool arguments as
// a CPLStringList, and GDAL's errors captured with their number instead of printed. Plain C++
// and GDAL, no Qt, on its own library target.
#include "common/result.h"

#include <cpl_error.h>
#include <cpl_progress.h>
#include <cpl_string.h>
#include <gdal.h>
#include <gdal_priv.h>

#include <string>
#include <utility>
#include <vector>

namespace common::gdal {

// Registers GDAL's drivers once per process and gives each configuration option in |defaults|
// its value, unless the user has already set it (in the environment or otherwise): a later
// call's defaults apply only to options still unset.
void setUp(const std::vector<std::pair<std::string, std::string>>& defaults = {});

// An open dataset; closed (and written, for a new file) when the handle goes.
using Dataset = GDALDatasetUniquePtr;

inline GDALDatasetH handle(const Dataset& dataset)
{
    return GDALDataset::ToHandle(dataset.get());
}

// The last error GDAL reported on this thread while the capture lived.
struct GdalError {
    CPLErrorNum number = CPLE_None;
    std::string message;
};

// While one lives, GDAL prints nothing on this thread (but the debug output CPL_DEBUG asks for)
// and its failures are kept.
class ErrorCapture {
public:
    ErrorCapture();
    ~ErrorCapture();
    ErrorCapture(const ErrorCapture&) = delete;
    ErrorCapture& operator=(const ErrorCapture&) = delete;

    bool failed() const { return last_.number != CPLE_None; }
    const GdalError& last() const { return last_; }
    // An Error of |kind| whose text is |context|, a colon and GDAL's reason.
    Error error(ErrorKind kind, const std::string& context, int status = 0) const;

private:
    static void CPL_STDCALL handler(CPLErr type, CPLErrorNum number, const char* message);
    GdalError last_;
};

// Opens a raster for reading; the Error names it (|label|, else |name|) and gives GDAL's reason.
Result<Dataset> openRaster(const std::string& name, const std::string& label = {});

// gdal_translate and gdalwarp as functions: the written dataset, or GDAL's reason. |target|
// may be "" for a format that writes nowhere (VRT, MEM). The arguments are taken by value, since
// GDAL wants them writable.
Result<Dataset> translate(const std::string& target, GDALDatasetH source, CPLStringList arguments,
                          GDALProgressFunc progress = nullptr, void* progressData = nullptr);
Status warp(GDALDatasetH source, GDALDatasetH target, CPLStringList arguments,
            GDALProgressFunc progress = nullptr, void* progressData = nullptr);

} // namespace common::gdal
