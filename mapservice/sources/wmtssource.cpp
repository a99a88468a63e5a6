// WMTS servers ("wmts:URL", URL naming the capabilities document): a grid source whose grid
// the capabilities describe.
#include "mapservice/protocol/tileservice.h"
#include "mapservice/sources/dialects.h"
#include "mapservice/sources/gridsource.h"

namespace mapservice {

common::Result<std::unique_ptr<Source>> makeWmtsSource(const RemoteSpec& spec)
{
    const std::string url = spec.params.url;
    const SourceParams choice = spec.params;
    return std::unique_ptr<Source>(std::make_unique<GridSource>(
        spec.text,
        GridSource::Description{url, "WMTS capabilities document", isWmtsCapabilities,
                                [url, choice](const std::string& xml) {
                                    return readWmtsCapabilities(xml, url, choice);
                                }},
        spec.upstreams, spec.shores, spec.manners));
}

} // namespace mapservice
