#include "mapservice/http/answer.h"

#include "common/credit.h"
#include "mapservice/draw/gifencode.h"

#include <algorithm>
#include <cstdio>
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

std::string entityTag(const MapRequest& request, const Freshness& fresh)
{
    char fields[200];
    std::snprintf(fields, sizeof fields, "%.12g %.12g %.12g %d %d ", request.centre.latitude,
                  request.centre.longitude, request.zoom, request.width, request.height);
    const std::string text = std::string(fields) + request.mapcode + "\n" + fresh.identity + "\n" +
                             fresh.drawnFrom + "\n" + MAPSUITE_VERSION;
    // Two FNV-1a hashes of different offsets: 128 bits, enough that no two pictures share one.
    std::uint64_t a = 14695981039346656037ULL;
    std::uint64_t b = 1099511628211ULL * 31;
    for (const unsigned char c : text) {
        a = (a ^ c) * 1099511628211ULL;
        b = (b ^ c) * 1099511628211ULL + 7;
    }
    char tag[40];
    std::snprintf(tag, sizeof tag, "\"%016llx%016llx\"", static_cast<unsigned long long>(a),
                  static_cast<unsigned long long>(b));
    return tag;
}

void cachedBy(Answer& answer, const MapRequest& request, const Freshness& fresh)
{
    if (!answer.drawnFrom.empty() && answer.drawnFrom != fresh.drawnFrom) {
        Freshness drawn = fresh;
        drawn.drawnFrom = answer.drawnFrom;
        answer.etag = entityTag(request, drawn);
    } else {
        answer.etag = entityTag(request, fresh);
    }
    answer.maxAge = fresh.maxAgeSeconds;
    answer.lastModified = fresh.lastModified;
}

bool noneMatchHolds(std::string_view ifNoneMatch, const std::string& etag)
{
    const auto opaque = [](std::string_view tag) {
        return tag.substr(0, 2) == "W/" ? tag.substr(2) : tag;
    };
    while (!ifNoneMatch.empty()) {
        const std::size_t comma = std::min(ifNoneMatch.find(','), ifNoneMatch.size());
        std::string_view tag = ifNoneMatch.substr(0, comma);
        ifNoneMatch.remove_prefix(std::min(comma + 1, ifNoneMatch.size()));
        while (!tag.empty() && (tag.front() == ' ' || tag.front() == '\t')) {
            tag.remove_prefix(1);
        }
        while (!tag.empty() && (tag.back() == ' ' || tag.back() == '\t')) {
            tag.remove_suffix(1);
        }
        if (tag == "*" || opaque(tag) == opaque(etag)) {
            return true;
        }
    }
    return false;
}

std::string httpDate(std::time_t time)
{
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm t{};
    gmtime_r(&time, &t);
    char text[40];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", days[t.tm_wday],
                  t.tm_mday, months[t.tm_mon], t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
    return text;
}

namespace {

template <typename Draw> Answer answerWith(Draw draw, const Halt& halt)
{
    try {
        const auto picture = draw();
        if (!picture) {
            return refusal(picture.error());
        }
        std::string gif = encodeGif(*picture, halt);
        if (halted(halt)) {
            return refusal(haltedError());
        }
        Answer answer(200, "image/gif", std::move(gif), common::cleanCredit(picture->credit));
        answer.drawnFrom = picture->drawnFrom;
        return answer;
    } catch (const std::exception& e) {
        return refusal(common::permanent(std::string("cannot draw the map: ") + e.what(), 500));
    }
}

} // namespace

Answer drawAnswer(const MapRequest& request, const Source& source, const Gathered* gathered,
                  const Halt& halt)
{
    return answerWith([&] { return source.drawGathered(request, gathered, halt); }, halt);
}

} // namespace mapservice
