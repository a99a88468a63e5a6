// The map service's request parsing on any query string: no crash, and whatever it accepts
// lies within the limits the renderer relies on.
#include "mapservice/protocol/request.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view query(reinterpret_cast<const char*>(data), size);
    const auto parsed = mapservice::parseMapRequest(mapservice::parseQuery(query));
    if (parsed) {
        const mapservice::MapRequest* request = &*parsed;
        if (!(request->zoom > 0) || !std::isfinite(request->zoom) ||
            std::fabs(request->centre.latitude) > 90 ||
            !(std::fabs(request->centre.longitude) <= mapservice::maxLongitude) ||
            request->width < 1 || request->height < 1 || request->width > mapservice::maxSide ||
            request->height > mapservice::maxSide) {
            std::abort();
        }
    }
    return 0;
}
