#include "mapservice/answer.h"

#include "mapservice/gifencode.h"

#include <exception>

namespace mapservice {

namespace {

Answer refusal(const Refusal& r)
{
    return {r.status, "text/plain", r.reason + "\n"};
}

} // namespace

std::variant<MapRequest, Answer> readMapRequest(const std::string& query)
{
    try {
        auto request = parseMapRequest(parseQuery(query));
        if (const auto* refused = std::get_if<Refusal>(&request)) {
            return refusal(*refused);
        }
        return std::get<MapRequest>(std::move(request));
    } catch (const std::exception& e) {
        return refusal({500, std::string("cannot read the request: ") + e.what()});
    }
}

Answer drawAnswer(const MapRequest& request, const Source& source)
{
    try {
        const auto picture = source.draw(request);
        if (const auto* refused = std::get_if<Refusal>(&picture)) {
            return refusal(*refused);
        }
        return {200, "image/gif", encodeGif(std::get<Picture>(picture))};
    } catch (const std::exception& e) {
        return refusal({500, std::string("cannot draw the map: ") + e.what()});
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
