// Tiled ArcGIS map and image services ("arcgis:URL", URL ending in /MapServer or /ImageServer):
// a grid source whose grid the service's JSON description gives.
#include "mapservice/protocol/tileservice.h"
#include "mapservice/sources/dialects.h"
#include "mapservice/sources/gridsource.h"

namespace mapservice {

common::Result<std::unique_ptr<Source>> makeArcgisSource(const RemoteSpec& spec)
{
    std::string url = spec.params.url;
    while (!url.empty() && url.back() == '/') {
        url.pop_back();
    }
    const auto endsWith = [&url](const std::string& end) {
        return url.size() > end.size() &&
               url.compare(url.size() - end.size(), end.size(), end) == 0;
    };
    if (!(endsWith("/MapServer") || endsWith("/ImageServer")) ||
        url.find('?') != std::string::npos) {
        return common::badInput("an arcgis: source's URL ends in /MapServer or /ImageServer");
    }
    return std::unique_ptr<Source>(std::make_unique<GridSource>(
        spec.text,
        GridSource::Description{
            url + "?f=json", "tiled map service description", isArcgisService,
            [url](const std::string& json) { return readArcgisService(json, url); }},
        spec.upstreams, spec.shores, spec.manners));
}

} // namespace mapservice
