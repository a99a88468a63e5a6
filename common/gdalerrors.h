#pragma once

// For the parts that use GDAL (the map service's raster sources, the exporter): GDAL's
// messages collected instead of printed, the last error given as the reason of a failure.
// Header only, so that the rest of common needs no GDAL.
#include <cpl_error.h>

#include <string>

namespace common {

// While one lives, GDAL prints nothing on this thread.
class QuietGdalErrors {
public:
    QuietGdalErrors() { CPLPushErrorHandler(CPLQuietErrorHandler); }
    ~QuietGdalErrors() { CPLPopErrorHandler(); }
    QuietGdalErrors(const QuietGdalErrors&) = delete;
    QuietGdalErrors& operator=(const QuietGdalErrors&) = delete;

    // GDAL's last error message on this thread.
    static std::string last()
    {
        const char* message = CPLGetLastErrorMsg();
        return message != nullptr && *message != '\0' ? message : "unknown error";
    }
};

} // namespace common
