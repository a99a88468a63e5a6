#include "mapservice/answer.h"

#include "mapservice/gifencode.h"

#include <exception>

namespace mapservice {

namespace {

Answer refusal(const common::Error& error)
{
    return {error.status != 0 ? error.status : 500, "text/plain", error.text + "\n"};
}

} // namespace

std::variant<MapRequest, Answer> readMapRequest(const std::string& query)
{
    try {
        auto request = parseMapRequest(parseQuery(query));
        if (!request) {
            return refusal(request.error());
        }
        return std::move(request).value();
    } catch (const std::exception& e) {
        return refusal(common::permanent(std::string("cannot read the request: ") + e.what(), 500));
    }
}

Answer drawAnswer(const MapRequest& request, const Source& source)
{
    try {
        const auto picture = source.draw(request);
        if (!picture) {
            return refusal(picture.error());
        }
        return {200, "image/gif", encodeGif(*picture)};
    } catch (const std::exception& e) {
        return refusal(common::permanent(std::string("cannot draw the map: ") + e.what(), 500));
    }
}

Answer answerMapRequest(const std::string& query, const Source& source)
{
    auto request = readMapRequest(query);
    if (auto* refused = std::get_if<Answer>(&request)) {
        return std::move(*refused);
    }
    return drawAnswer(std::get<MapRequest>(request), source);
}

} // namespace mapservice
