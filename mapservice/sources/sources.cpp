#include "mapservice/sources/sources.h"

#include "common/printable.h"
#include "common/redirect.h"
#include "mapservice/protocol/sourceparams.h"
#include "mapservice/sources/dialects.h"
#include "mapservice/sources/rastersource.h"

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
#include <tuple>
#include <unistd.h>

namespace mapservice {

namespace {

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
    const std::string rest = lowerAscii(spec.substr(colon + 1, 8));
    const bool url = rest.rfind("http://", 0) == 0 || rest.rfind("https://", 0) == 0;
    if (!url || !isWord(word) || GDALGetDriverByName(word.c_str()) != nullptr) {
        return std::nullopt;
    }
    std::string kinds;
    const auto all = dialects();
    for (std::size_t i = 0; i < all.size(); ++i) {
        kinds += (i == 0                ? ""
                  : i + 1 == all.size() ? " and "
                                        : ", ") +
                 std::string(all[i].name) + ":";
    }
    return "no kind of source is called " + word + ":; the kinds are " + kinds;
}

} // namespace

common::Status SourceTable::take(const std::string& option, const std::string& argument)
{
    SourceConfigs configs = configs_;
    if (auto taken = configs.take(option, argument); !taken) {
        return taken;
    }
    const SourceConfigs before = configs_;
    auto made = use(configs);
    if (!made) {
        static_cast<void>(use(before)); // what was taken before stands, and was made before
    }
    return made;
}

common::Status SourceTable::use(const SourceConfigs& configs)
{
    configs_ = configs;
    general_ = nullptr;
    byCode_.clear();
    specs_.clear();
    const auto made = [this](const SourceConfig& config,
                             Manners manners) -> common::Result<const Source*> {
        auto source = make(config.spec, std::move(manners));
        if (!source) {
            common::Error error = source.error();
            error.text = "--source " + common::printable(config.argument) + ": " + error.text;
            error.status = 2;
            return error;
        }
        specs_[*source] = config.spec;
        return source;
    };
    const SourceConfig& every = configs_.general;
    if (!every.spec.empty()) {
        auto source = made(every, Manners{every.headers, every.maxRate});
        if (!source) {
            return source.error();
        }
        general_ = *source;
    }
    // Codes whose source, headers and rate are the same share one source.
    std::map<std::tuple<std::string, std::vector<std::string>, double>, const Source*> shared;
    for (const auto& [code, config] : configs_.byCode) {
        if (config.spec.empty()) {
            continue;
        }
        Manners manners{every.headers, every.maxRate};
        manners.headers.insert(manners.headers.end(), config.headers.begin(), config.headers.end());
        if (config.maxRate > 0) {
            manners.maxRate =
                manners.maxRate > 0 ? std::min(manners.maxRate, config.maxRate) : config.maxRate;
        }
        const auto key = std::make_tuple(config.spec, manners.headers, manners.maxRate);
        if (const auto same = shared.find(key); same != shared.end()) {
            byCode_[code] = same->second;
            continue;
        }
        auto source = made(config, std::move(manners));
        if (!source) {
            return source.error();
        }
        byCode_[code] = shared[key] = *source;
    }
    return {};
}

common::Result<const Source*> SourceTable::make(const std::string& spec, Manners manners)
{
    if (spec == "drawn") {
        return static_cast<const Source*>(&drawn_);
    }
    const std::size_t colon = spec.find(':');
    const std::string dialect = colon == std::string::npos ? "" : lowerAscii(spec.substr(0, colon));
    const auto known = std::find_if(dialects().begin(), dialects().end(),
                                    [&dialect](const Dialect& d) { return dialect == d.name; });
    if (known != dialects().end()) {
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
    auto split = splitSourceParams(what, text, dialect.params);
    if (!split) {
        return split.error();
    }
    if (!isFetchableUrl(withSubdomain(split->url))) {
        return common::badInput(what + " needs an http:// or https:// URL with a host and "
                                       "without blanks or control characters");
    }
    if (!upstreams_) {
        if (options_.loop == nullptr) {
            return common::permanent(what + " needs the service's loop to fetch on");
        }
        upstreams_ = std::make_unique<Upstreams>(options_);
    }
    auto made = dialect.make(RemoteSpec{text, *split, *upstreams_, shores_, std::move(manners)});
    if (!made) {
        return made.error();
    }
    owned_.push_back(std::move(made).value());
    return static_cast<const Source*>(owned_.back().get());
}

bool SourceTable::passesTile(const TileAsk& tile) const
{
    MapRequest asked;
    asked.mapcode = tile.code;
    const auto [source, routed] = route(asked);
    return tile.z <= routed.maxZoom && source->passesTile(tile);
}

void SourceTable::gatherTile(const TileAsk& tile, const Wanted& wanted, Gathering done) const
{
    MapRequest asked;
    asked.mapcode = tile.code;
    route(asked).first->gatherTile(tile, wanted, std::move(done));
}

std::vector<MapLayer> SourceTable::layers() const
{
    std::vector<MapLayer> all = standardLayers();
    for (MapLayer& layer : all) {
        MapRequest asked;
        asked.mapcode = layer.code;
        const auto [source, routed] = route(asked);
        layer.credit = routed.attribution.empty() && source == &drawn_ ? std::string(drawnCredit)
                                                                       : routed.attribution;
        layer.maxZoom = routed.maxZoom;
    }
    return all;
}

std::pair<const Source*, MapRequest> SourceTable::route(const MapRequest& request) const
{
    const auto it = byCode_.find(request.mapcode);
    const Source* source = it != byCode_.end() ? it->second : general_;
    const auto own = configs_.byCode.find(request.mapcode);
    const SourceConfig none;
    const SourceConfig& code = own != configs_.byCode.end() ? own->second : none;
    const SourceConfig& every = configs_.general;
    MapRequest credited = request;
    const bool drawn = source == nullptr || source == &drawn_;
    credited.legend = !request.bare && code.legend.value_or(every.legend.value_or(drawn));
    // The drawn map takes the credit for every code too, when no --source names another.
    if (code.credit) {
        credited.attribution = *code.credit;
    } else if (source == general_) {
        credited.attribution = every.credit.value_or("");
    }
    credited.maxZoom = code.maxZoom.value_or(every.maxZoom.value_or(options_.maxZoom));
    return {source != nullptr ? source : &drawn_, std::move(credited)};
}

void SourceTable::gather(const MapRequest& request, const Wanted& wanted, Gathering done) const
{
    const auto [source, routed] = route(request);
    source->gather(routed, wanted, std::move(done));
}

common::Result<Picture> SourceTable::drawGathered(const MapRequest& request,
                                                  const Gathered* gathered, const Halt& halt) const
{
    const auto [source, routed] = route(request);
    return source->drawGathered(routed, gathered, halt);
}

Freshness SourceTable::freshness(const MapRequest& request, const Gathered* gathered) const
{
    const auto [source, routed] = route(request);
    Freshness fresh = source->freshness(routed, gathered);
    fresh.identity += "\n" + std::to_string(static_cast<int>(routed.legend)) + " " +
                      std::to_string(routed.maxZoom) + " " + routed.attribution;
    return fresh;
}

std::string SourceTable::sourceIdentity(const MapRequest& request) const
{
    const auto [source, routed] = route(request);
    const auto spec = specs_.find(source);
    return hexHash(spec != specs_.end() ? spec->second : std::string("drawn")).substr(0, 16);
}

} // namespace mapservice
