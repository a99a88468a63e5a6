#include "mapservice/answer.h"

#include "common/credit.h"
#include "mapservice/gifencode.h"

#include <exception>

namespace mapservice {

std::string oneLineReason(std::string_view text)
{
    constexpr std::size_t most = 199;
    text = text.substr(0, text.find('<'));
    std::string line;
    for (const char c : text) {
        const bool blank = static_cast<unsigned char>(c) < 0x20 || c == 0x7F || c == ' ';
        if (!blank) {
            line += c;
        } else if (!line.empty() && line.back() != ' ') {
            line += ' ';
        }
    }
    if (line.size() > most) {
        std::size_t cut = most;
        while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) {
            --cut; // not inside a character
        }
        line.resize(cut);
    }
    while (!line.empty() && (line.back() == ' ' || line.back() == ':')) {
        line.pop_back();
    }
    return line;
}

Answer refusal(const common::Error& error)
{
    return {
        error.status != 0 ? error.status : 500, "text/plain", oneLineReason(error.text) + "\n", {}};
}

common::Result<MapRequest> readMapRequest(const std::string& query)
{
    try {
        return parseMapRequest(parseQuery(query));
    } catch (const std::exception& e) {
        return common::permanent(std::string("cannot read the request: ") + e.what(), 500);
    }
}

namespace {

template <typename Draw> Answer answerWith(Draw draw)
{
    try {
        const auto picture = draw();
        if (!picture) {
            return refusal(picture.error());
        }
        return {200, "image/gif", encodeGif(*picture), common::cleanCredit(picture->credit)};
    } catch (const std::exception& e) {
        return refusal(common::permanent(std::string("cannot draw the map: ") + e.what(), 500));
    }
}

} // namespace

Answer drawAnswer(const MapRequest& request, const Source& source)
{
    return answerWith([&] { return source.draw(request); });
}

Answer drawAnswer(const MapRequest& request, const Source& source, const Gathered* gathered)
{
    return answerWith([&] { return source.drawGathered(request, gathered); });
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
