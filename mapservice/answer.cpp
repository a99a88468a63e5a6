#include "mapservice/answer.h"

#include "common/credit.h"
#include "mapservice/gifencode.h"

#include <exception>

namespace mapservice {

Answer refusal(const common::Error& error)
{
    return {error.status != 0 ? error.status : 500, "text/plain", error.text + "\n", {}};
}

common::Result<MapRequest> readMapRequest(const std::string& query)
{
    try {
        return parseMapRequest(parseQuery(query));
    } catch (const std::exception& e) {
        return common::permanent(std::string("cannot read the request: ") + e.what(), 500);
    }
}

Answer drawAnswer(const MapRequest& request, const Source& source)
{
    try {
        const auto picture = source.draw(request);
        if (!picture) {
            return refusal(picture.error());
        }
        return {200, "image/gif", encodeGif(*picture), common::cleanCredit(picture->credit)};
    } catch (const std::exception& e) {
        return refusal(common::permanent(std::string("cannot draw the map: ") + e.what(), 500));
    }
}

Answer answerMapRequest(const std::string& query, const Source& source)
{
    const auto request = readMapRequest(query);
    if (!request) {
        return refusal(request.error());
    }
    return drawAnswer(*request, source);
}

} // namespace mapservice
