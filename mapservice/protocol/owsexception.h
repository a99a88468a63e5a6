#pragma once

// The XML that a map server answers with instead of a picture when it refuses a request: a WMS
// ServiceExceptionReport or an OGC ExceptionReport (WMTS).
#include <optional>
#include <string>
#include <string_view>

namespace mapservice {

struct OwsException {
    std::string code; // "TileOutOfRange", "LayerNotDefined" ...; may be empty
    std::string text; // the server's words on one line, without markup, at most 300 bytes
};

// The first exception |body| reports, or nothing when it is no exception report.
std::optional<OwsException> owsException(std::string_view body);

} // namespace mapservice
