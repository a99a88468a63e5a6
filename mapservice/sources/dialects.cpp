#include "mapservice/sources/dialects.h"

namespace mapservice {

std::span<const Dialect> dialects()
{
    static const Dialect table[] = {
        {"xyz", "an", {"subdomains", "tilesize"}, makeXyzSource},
        {"tms", "a", {"subdomains", "tilesize"}, makeTmsSource},
        {"wms", "a", {}, makeWmsSource},
        {"wmts", "a", {"layer", "tilematrixset", "style", "format", "hosts"}, makeWmtsSource},
        {"arcgis", "an", {}, makeArcgisSource},
    };
    return table;
}

} // namespace mapservice
