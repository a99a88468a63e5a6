#include "mapservice/sources.h"

#include "common/printable.h"
#include "common/redirect.h"
#include "mapservice/gridsource.h"
#include "mapservice/rastersource.h"
#include "mapservice/remotespec.h"
#include "mapservice/wmssource.h"

#include <gdal.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <strings.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace mapservice {

namespace {

std::string lowerText(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string upper(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

// The codes a "CODE=" prefix stands for, or nothing when the prefix is no code.
std::vector<std::string> codesOf(const std::string& prefix)
{
    if (prefix == "type1") {
        return {"EUR0407", "USA407", "EURO809"};
    }
    if (prefix == "type2") {
        return {"WLD0407"};
    }
    if (prefix == "EUR0407" || prefix == "USA407" || prefix == "EURO809" || prefix == "WLD0407") {
        return {prefix};
    }
    return {};
}

bool lettersAndDigits(const std::string& text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(),
                                        [](unsigned char c) { return std::isalnum(c) != 0; });
}

// An option's "[CODE=]VALUE": the codes CODE stands for (none for VALUE alone) and VALUE. A
// prefix of letters and digits before "=" must be a map code; anything else before "=" is part
// of the value (a URL's query, a path: a file named like a code is given as ./NAME).
struct Coded {
    std::vector<std::string> codes;
    std::string value;
};

common::Result<Coded> splitCoded(const std::string& option, const std::string& argument)
{
    const std::size_t eq = argument.find('=');
    if (eq == std::string::npos) {
        return Coded{{}, argument};
    }
    const std::string prefix = argument.substr(0, eq);
    std::vector<std::string> codes = codesOf(prefix);
    if (!codes.empty()) {
        return Coded{std::move(codes), argument.substr(eq + 1)};
    }
    if (lettersAndDigits(prefix)) {
        return common::badInput(option + " " + argument + ": " + prefix +
                                    " is no map code; the codes are EUR0407, USA407, EURO809, "
                                    "WLD0407, type1 and type2",
                                2);
    }
    return Coded{{}, argument};
}

// A local file that cannot be read, with the system's reason; nothing for anything else (a file
// that can be read, or a name GDAL understands otherwise: a connection string, a URL).
std::optional<std::string> unreadableFile(const std::string& spec)
{
    const bool gdalName =
        spec.empty() || spec.front() == '<' || spec.rfind("/vsi", 0) == 0 ||
        (spec.find(':') != std::string::npos && spec.front() != '.' && spec.front() != '/');
    if (gdalName) {
        return std::nullopt;
    }
    struct stat status {};
    if (::stat(spec.c_str(), &status) != 0) {
        return std::error_code(errno, std::generic_category()).message();
    }
    if (S_ISDIR(status.st_mode)) {
        return "it is a folder";
    }
    if (::access(spec.c_str(), R_OK) != 0) {
        return std::error_code(errno, std::generic_category()).message();
    }
    return std::nullopt;
}

} // namespace

SourceTable::SourceTable(const ShoreData& shores, RemoteOptions options)
    : shores_(shores), options_(std::move(options)), drawn_(shores_)
{}

SourceTable::~SourceTable() = default;

namespace {

// An HTTP or HTTPS URL with a host that travels as it is written: no blank or control
// character, which would be sent otherwise than the user wrote it, or not at all.
bool isFetchableUrl(const std::string& url)
{
    const auto starts = [&url](const char* scheme) {
        const std::size_t n = std::strlen(scheme);
        return url.size() > n && strncasecmp(url.c_str(), scheme, n) == 0;
    };
    return (starts("http://") || starts("https://")) &&
           std::none_of(url.begin(), url.end(),
                        [](unsigned char c) { return c <= 0x20 || c == 0x7F; }) &&
           common::authorityOf(url) != common::unreadableAddress;
}

// |url| as it is asked for: {s} stands for a subdomain.
std::string withSubdomain(std::string url)
{
    if (const std::size_t at = url.find("{s}"); at != std::string::npos) {
        url.replace(at, 3, "a");
    }
    return url;
}

// Why |spec| names no kind of source: a word before ":http://" or ":https://" that is neither one
// of ours nor one of GDAL's drivers ("WMS:", "WCS:" ... which GDAL opens itself).
std::optional<std::string> unknownDialect(const std::string& spec)
{
    const std::size_t colon = spec.find(':');
    if (colon == std::string::npos || colon == 0) {
        return std::nullopt;
    }
    const std::string word = spec.substr(0, colon);
    const std::string rest = lowerText(spec.substr(colon + 1, 8));
    const bool url = rest.rfind("http://", 0) == 0 || rest.rfind("https://", 0) == 0;
    if (!url || !lettersAndDigits(word) || GDALGetDriverByName(word.c_str()) != nullptr) {
        return std::nullopt;
    }
    return "no kind of source is called " + word +
           ":; the kinds are xyz:, tms:, wms:, wmts: and arcgis:";
}

} // namespace

common::Result<const Source*> SourceTable::make(const std::string& spec,
                                                const std::vector<std::string>& codes)
{
    if (spec == "drawn") {
        return static_cast<const Source*>(&drawn_);
    }
    const std::size_t colon = spec.find(':');
    const std::string dialect = colon == std::string::npos ? "" : lowerText(spec.substr(0, colon));
    const auto known = std::find_if(std::begin(dialects), std::end(dialects),
                                    [&dialect](const Dialect& d) { return dialect == d.name; });
    if (known != std::end(dialects)) {
        Manners manners{generalHeaders_, generalMaxRate_};
        for (const std::string& code : codes) {
            const auto headers = headersByCode_.find(code);
            if (headers != headersByCode_.end()) {
                manners.headers.insert(manners.headers.end(), headers->second.begin(),
                                       headers->second.end());
            }
            if (const auto rate = maxRateByCode_.find(code); rate != maxRateByCode_.end()) {
                manners.maxRate =
                    manners.maxRate > 0 ? std::min(manners.maxRate, rate->second) : rate->second;
            }
        }
        return makeRemote(*known, spec.substr(colon + 1), std::move(manners));
    }
    if (const auto unknown = unknownDialect(spec)) {
        return common::badInput(*unknown);
    }
    if (const auto reason = unreadableFile(spec)) {
        return common::notFound("the map source " + spec + " cannot be opened: " + *reason);
    }
    auto opened = RasterSource::open(spec, shores_);
    if (!opened) {
        return opened.error();
    }
    owned_.push_back(std::move(opened).value());
    return static_cast<const Source*>(owned_.back().get());
}

common::Result<const Source*> SourceTable::makeRemote(const Dialect& dialect,
                                                      const std::string& text, Manners manners)
{
    const std::string what = std::string(dialect.article) + " " + dialect.name + ": source";
    auto split = splitRemoteSpec(what, text, dialect.params);
    if (!split) {
        return split.error();
    }
    if (!isFetchableUrl(withSubdomain(split->url))) {
        return common::badInput(what + " needs an http:// or https:// URL with a host and "
                                       "without blanks or control characters");
    }
    const std::string name = dialect.name;
    std::unique_ptr<Source> made;
    if (!upstreams_) {
        upstreams_ = std::make_unique<Upstreams>(options_);
        upstreams_->network().serveOn(servedOn_);
    }
    if (name == "xyz" || name == "tms") {
        auto tiles = xyzTemplate(*split, name == "tms");
        if (!tiles) {
            return tiles.error();
        }
        // The cache's name for it: its template and parameters (an xyz: source without them
        // keeps the name of earlier versions, its URL).
        const std::size_t hash = text.rfind('#');
        const std::string cacheName =
            tiles->url + (hash == std::string::npos ? "" : text.substr(hash));
        made = std::make_unique<XyzSource>(cacheName, std::move(tiles).value(), *upstreams_,
                                           shores_, std::move(manners));
    } else if (name == "wms") {
        if (upper(split->url).find("LAYERS=") == std::string::npos) {
            return common::badInput("a wms: source needs LAYERS=... in its URL");
        }
        made = std::make_unique<WmsSource>(split->url, *upstreams_, shores_, std::move(manners));
    } else if (name == "wmts") {
        const std::string url = split->url;
        const RemoteSpec choice = *split;
        made = std::make_unique<GridSource>(
            text,
            GridSource::Description{url, "WMTS capabilities document", isWmtsCapabilities,
                                    [url, choice](const std::string& xml) {
                                        return readWmtsCapabilities(xml, url, choice);
                                    }},
            *upstreams_, shores_, std::move(manners));
    } else {
        std::string url = split->url;
        while (!url.empty() && url.back() == '/') {
            url.pop_back();
        }
        if (url.size() < 10 || url.compare(url.size() - 10, 10, "/MapServer") != 0 ||
            url.find('?') != std::string::npos) {
            return common::badInput("an arcgis: source's URL ends in /MapServer");
        }
        made = std::make_unique<GridSource>(
            text,
            GridSource::Description{
                url + "?f=json", "tiled map service description", isArcgisService,
                [url](const std::string& json) { return readArcgisService(json, url); }},
            *upstreams_, shores_, std::move(manners));
    }
    owned_.push_back(std::move(made));
    return static_cast<const Source*>(owned_.back().get());
}

common::Status SourceTable::add(const std::string& argument)
{
    const auto coded = splitCoded("--source", argument);
    if (!coded) {
        return coded.error();
    }
    const std::vector<std::string>& codes = coded->codes;
    const std::string& spec = coded->value;
    if (spec.empty()) {
        return common::badInput("--source " + common::printable(argument) + ": no source given", 2);
    }
    auto made = make(spec, codes);
    if (!made) {
        common::Error error = made.error();
        error.text = "--source " + common::printable(argument) + ": " + error.text;
        error.status = 2;
        return error;
    }
    const Source* source = *made;
    if (codes.empty()) {
        general_ = source;
    }
    for (const std::string& code : codes) {
        byCode_[code] = source;
    }
    return {};
}

void SourceTable::addAttribution(const std::string& argument)
{
    const std::size_t eq = argument.find('=');
    const std::vector<std::string> codes =
        eq == std::string::npos ? std::vector<std::string>{} : codesOf(argument.substr(0, eq));
    if (codes.empty()) {
        generalAttribution_ = argument;
    }
    for (const std::string& code : codes) {
        attributionByCode_[code] = argument.substr(eq + 1);
    }
}

common::Status SourceTable::addLegend(const std::string& argument)
{
    const auto coded = splitCoded("--legend", argument);
    if (!coded) {
        return coded.error();
    }
    const std::vector<std::string>& codes = coded->codes;
    const std::string& choice = coded->value;
    if (choice != "full" && choice != "none") {
        return common::badInput("--legend " + argument + ": full or none", 2);
    }
    if (codes.empty()) {
        generalLegend_ = choice == "full";
    }
    for (const std::string& code : codes) {
        legendByCode_[code] = choice == "full";
    }
    return {};
}

common::Status SourceTable::addMaxZoom(const std::string& argument)
{
    const auto coded = splitCoded("--max-zoom", argument);
    if (!coded) {
        return coded.error();
    }
    char* end = nullptr;
    const long zoom = std::strtol(coded->value.c_str(), &end, 10);
    if (coded->value.empty() || *end != '\0' || zoom < 0 || zoom > 24) {
        return common::badInput("--max-zoom " + argument + ": a zoom from 0 to 24", 2);
    }
    if (coded->codes.empty()) {
        options_.maxZoom = static_cast<int>(zoom);
    }
    for (const std::string& code : coded->codes) {
        maxZoomByCode_[code] = static_cast<int>(zoom);
    }
    return {};
}

common::Status SourceTable::addHeader(const std::string& argument)
{
    const auto coded = splitCoded("--header", argument);
    if (!coded) {
        return coded.error();
    }
    const std::string& line = coded->value;
    const std::size_t colon = line.find(':');
    const std::string name = colon == std::string::npos ? "" : line.substr(0, colon);
    // A header's name is a token; its value has no line break or other control character.
    const bool token = !name.empty() && std::all_of(name.begin(), name.end(), [](unsigned char c) {
        return std::isalnum(c) != 0 || std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
    });
    const bool clean = std::none_of(line.begin(), line.end(), [](unsigned char c) {
        return (c < 0x20 && c != '\t') || c == 0x7F;
    });
    // What is shown of a refused line: its name only, as its value may be a key.
    const std::string shown = "--header " + common::printable(name.empty() ? "..." : name);
    if (!token || !clean) {
        return common::badInput(shown + ": a header is written \"Name: value\", on one line", 2);
    }
    const std::string lowered = lowerText(name);
    if (lowered == "host" || lowered == "user-agent") {
        return common::badInput(
            shown + ": the service sets " + name + " itself (the User-Agent with --contact)", 2);
    }
    if (lowered == "cache-control" || lowered == "pragma" || lowered == "if-none-match" ||
        lowered == "if-modified-since") {
        return common::badInput(shown + ": the service's cache decides " + name, 2);
    }
    if (coded->codes.empty()) {
        generalHeaders_.push_back(line);
    }
    for (const std::string& code : coded->codes) {
        headersByCode_[code].push_back(line);
    }
    return {};
}

common::Status SourceTable::addMaxRate(const std::string& argument)
{
    const auto coded = splitCoded("--max-rate", argument);
    if (!coded) {
        return coded.error();
    }
    char* end = nullptr;
    const double rate = std::strtod(coded->value.c_str(), &end);
    if (coded->value.empty() || *end != '\0' || !(rate > 0) || rate > 1000) {
        return common::badInput("--max-rate " + common::printable(argument) +
                                    ": requests a second, above 0 and at most 1000",
                                2);
    }
    if (coded->codes.empty()) {
        generalMaxRate_ = rate;
    }
    for (const std::string& code : coded->codes) {
        maxRateByCode_[code] = rate;
    }
    return {};
}

std::pair<const Source*, MapRequest> SourceTable::route(const MapRequest& request) const
{
    const auto it = byCode_.find(request.mapcode);
    const Source* source = it != byCode_.end() ? it->second : general_;
    MapRequest credited = request;
    const bool drawn = source == nullptr || source == &drawn_;
    if (const auto l = legendByCode_.find(request.mapcode); l != legendByCode_.end()) {
        credited.legend = l->second;
    } else {
        credited.legend = generalLegend_.value_or(drawn);
    }
    if (const auto a = attributionByCode_.find(request.mapcode); a != attributionByCode_.end()) {
        credited.attribution = a->second;
    } else if (source != nullptr && source == general_) {
        credited.attribution = generalAttribution_;
    }
    const auto z = maxZoomByCode_.find(request.mapcode);
    credited.maxZoom = z != maxZoomByCode_.end() ? z->second : options_.maxZoom;
    return {source != nullptr ? source : &drawn_, std::move(credited)};
}

void SourceTable::gather(const MapRequest& request, const Wanted& wanted, Gathering done) const
{
    const auto [source, routed] = route(request);
    source->gather(routed, wanted, std::move(done));
}

common::Result<Picture> SourceTable::drawGathered(const MapRequest& request,
                                                  const Gathered* gathered) const
{
    const auto [source, routed] = route(request);
    return source->drawGathered(routed, gathered);
}

common::Result<Picture> SourceTable::draw(const MapRequest& request) const
{
    return gatherAndDraw(*this, request);
}

Freshness SourceTable::freshness(const MapRequest& request, const Gathered* gathered) const
{
    const auto [source, routed] = route(request);
    Freshness fresh = source->freshness(routed, gathered);
    fresh.identity += "\n" + std::to_string(static_cast<int>(routed.legend)) + " " +
                      std::to_string(routed.maxZoom) + " " + routed.attribution;
    return fresh;
}

void SourceTable::serveOn(boost::asio::io_context* loop) const
{
    servedOn_ = loop;
    if (upstreams_) {
        upstreams_->network().serveOn(loop);
    }
}

bool SourceTable::runNetworkFor(std::chrono::milliseconds most) const
{
    return upstreams_ && upstreams_->network().runFor(most);
}

} // namespace mapservice
