#include "mapservice/protocol/request.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>

namespace mapservice {

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

std::string percentDecoded(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
            hexValue(text[i + 2]) >= 0) {
            out.push_back(static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2])));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

// "a,b" as two numbers.
std::optional<std::pair<double, double>> parsePair(const std::string& text)
{
    const auto comma = text.find(',');
    if (comma == std::string::npos) {
        return std::nullopt;
    }
    const std::string_view view(text);
    const auto first = parseNumber(view.substr(0, comma));
    const auto second = parseNumber(view.substr(comma + 1));
    if (!first || !second) {
        return std::nullopt;
    }
    return std::pair{*first, *second};
}

} // namespace

std::map<std::string, std::string> parseQuery(std::string_view query)
{
    std::map<std::string, std::string> keys;
    while (!query.empty()) {
        const auto amp = query.find('&');
        const std::string_view part = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        if (part.empty()) {
            continue;
        }
        const auto eq = part.find('=');
        const std::string key = percentDecoded(part.substr(0, eq));
        const std::string value =
            eq == std::string_view::npos ? std::string() : percentDecoded(part.substr(eq + 1));
        keys.emplace(key, value);
    }
    return keys;
}

std::optional<double> parseNumber(std::string_view text)
{
    text = trimmed(text);
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    // Pelagrin writes magnitudes below 1 without a leading zero (" .5", "-.25").
    const bool negative = text.front() == '-';
    const std::string_view magnitude = negative ? text.substr(1) : text;
    std::string copy = negative ? "-" : "";
    if (!magnitude.empty() && magnitude.front() == '.') {
        copy += '0';
    }
    copy += magnitude;
    double value = 0;
    const auto result = std::from_chars(copy.data(), copy.data() + copy.size(), value);
    if (result.ec != std::errc() || result.ptr != copy.data() + copy.size() ||
        !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::string_view originForm(std::string_view target)
{
    for (const std::string_view scheme : {"http://", "https://"}) {
        if (target.size() >= scheme.size() &&
            std::equal(scheme.begin(), scheme.end(), target.begin(), [](char lower, char given) {
                return std::tolower(static_cast<unsigned char>(given)) == lower;
            })) {
            const std::string_view rest = target.substr(scheme.size());
            const std::size_t path = rest.find_first_of("/?");
            if (path == std::string_view::npos) {
                return "/";
            }
            return rest[path] == '/' ? rest.substr(path) : target.substr(0, 0);
        }
    }
    return target;
}

bool lastCodingIsChunked(std::string_view transferEncoding)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    std::string_view last;
    std::size_t start = 0;
    while (start <= transferEncoding.size()) {
        std::size_t end = transferEncoding.find(',', start);
        if (end == std::string_view::npos) {
            end = transferEncoding.size();
        }
        std::string_view coding = transferEncoding.substr(start, end - start);
        while (!coding.empty() && blank(coding.front())) {
            coding.remove_prefix(1);
        }
        while (!coding.empty() && blank(coding.back())) {
            coding.remove_suffix(1);
        }
        if (!coding.empty()) {
            last = coding;
        }
        start = end + 1;
    }
    constexpr std::string_view chunked = "chunked";
    return last.size() == chunked.size() &&
           std::equal(last.begin(), last.end(), chunked.begin(), [](char given, char lower) {
               return std::tolower(static_cast<unsigned char>(given)) == lower;
           });
}

common::Result<MapRequest> parseMapRequest(const std::map<std::string, std::string>& keys)
{
    const auto badRequest = [](const char* reason) { return common::badInput(reason, 400); };
    const auto find = [&keys](const char* key) -> const std::string* {
        const auto it = keys.find(key);
        return it == keys.end() ? nullptr : &it->second;
    };
    MapRequest request;
    const std::string* cenp = find("CenP");
    const auto centre = cenp == nullptr ? std::nullopt : parsePair(*cenp);
    if (!centre) {
        return badRequest("CenP must be latitude,longitude");
    }
    request.centre = {.latitude = centre->first, .longitude = centre->second};
    if (request.centre.latitude < -90 || request.centre.latitude > 90) {
        return badRequest("the latitude of CenP must lie between -90 and 90");
    }
    if (!(std::abs(request.centre.longitude) <= maxLongitude)) {
        return badRequest("the longitude of CenP must lie between -1000000 and 1000000");
    }
    const std::string* alti = find("Alti");
    const auto zoom = alti == nullptr ? std::nullopt : parseNumber(*alti);
    if (!zoom) {
        return badRequest("Alti must be a number");
    }
    request.zoom = *zoom;
    if (!(request.zoom > 0)) {
        return badRequest("Alti must be greater than 0");
    }
    const std::string* size = find("Size");
    const auto sides = size == nullptr ? std::nullopt : parsePair(*size);
    if (!sides) {
        return badRequest("Size must be width,height in pixels");
    }
    const auto [width, height] = *sides;
    if (width != std::floor(width) || height != std::floor(height) || width < 1 || height < 1 ||
        width > maxSide || height > maxSide) {
        return badRequest("Size must be two whole numbers from 1 to 4000");
    }
    request.width = static_cast<int>(width);
    request.height = static_cast<int>(height);
    if (const std::string* lang = find("Lang")) {
        request.mapcode = *lang;
    }
    return request;
}

} // namespace mapservice
