#include "server.h"

#include "gifencode.h"

namespace mapservice {

Answer answerMapRequest(const std::string& query, const ShoreData& shores)
{
    const auto parsed = parseMapRequest(parseQuery(query));
    if (const auto* reason = std::get_if<std::string>(&parsed)) {
        return {400, "text/plain", *reason + "\n"};
    }
    const auto& request = std::get<MapRequest>(parsed);
    return {200, "image/gif", encodeGif(render(request, shores), paletteFor(request.mapcode))};
}

} // namespace mapservice
