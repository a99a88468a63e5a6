#include "mapservice/options.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>

namespace mapservice {

namespace {

std::optional<long> number(const std::string& text, long low, long high)
{
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

// Where each numeric option's value goes, and the values it may take.
struct NumberOption {
    const char* name;
    long low;
    long high;
    void (*store)(Options&, long);
};

const NumberOption numberOptions[] = {
    {"--port", 0, 65535, [](Options& o, long v) { o.port = static_cast<int>(v); }},
    {"--upstream-timeout", 1, 3600,
     [](Options& o, long v) { o.upstreamTimeout = static_cast<int>(v); }},
    {"--max-tile-mb", 1, 1024,
     [](Options& o, long v) { o.maxTileMegabytes = static_cast<int>(v); }},
    {"--cache-max-mb", 1, 1'000'000,
     [](Options& o, long v) { o.cacheMaxMegabytes = static_cast<int>(v); }},
    {"--header-timeout", 1, 3600,
     [](Options& o, long v) { o.limits.headerTimeout = std::chrono::seconds(v); }},
    {"--max-per-client", 1, 10'000,
     [](Options& o, long v) { o.limits.maxPerClient = static_cast<int>(v); }},
    {"--queue", 0, 10'000, [](Options& o, long v) { o.limits.queue = static_cast<int>(v); }},
};

} // namespace

common::Result<Options> parseOptions(const std::vector<std::string>& arguments, Options options)
{
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& arg = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        const NumberOption* numeric = nullptr;
        for (const NumberOption& candidate : numberOptions) {
            if (arg == candidate.name) {
                numeric = &candidate;
            }
        }
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else if (arg == "--log") {
            options.log = true;
        } else if (numeric != nullptr && hasValue) {
            const auto value = number(arguments[++i], numeric->low, numeric->high);
            if (!value) {
                return common::badInput("bad value for " + arg + ": " + arguments[i] + " (" +
                                            std::to_string(numeric->low) + " to " +
                                            std::to_string(numeric->high) + ")",
                                        2);
            }
            numeric->store(options, *value);
        } else if (arg == "--bind" && hasValue) {
            options.bind = arguments[++i];
        } else if (arg == "--data" && hasValue) {
            options.data = arguments[++i];
        } else if (arg == "--source" && hasValue) {
            options.sources.push_back(arguments[++i]);
        } else if (arg == "--attribution" && hasValue) {
            options.attributions.push_back(arguments[++i]);
        } else if (arg == "--max-zoom" && hasValue) {
            options.maxZooms.push_back(arguments[++i]);
        } else if (arg == "--legend" && hasValue) {
            options.legends.push_back(arguments[++i]);
        } else if (arg == "--cache" && hasValue) {
            options.cache = arguments[++i];
        } else if (arg == "--contact" && hasValue) {
            options.contact = arguments[++i];
        } else {
            return common::badInput("unknown or incomplete option " + arg, 2);
        }
    }
    return options;
}

common::Result<std::vector<std::string>> readOptionsFile(const std::string& text)
{
    std::vector<std::string> arguments;
    std::istringstream lines(text);
    int number = 0;
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    for (std::string line; std::getline(lines, line);) {
        ++number;
        for (std::size_t i = 0; i < line.size(); ++i) {
            if (line[i] == '#' && (i == 0 || blank(line[i - 1]))) {
                line.erase(i);
                break;
            }
        }
        const auto first = std::find_if_not(line.begin(), line.end(), blank);
        const auto last = std::find_if_not(line.rbegin(), line.rend(), blank).base();
        if (first >= last) {
            continue;
        }
        const std::string option(first, last);
        if (option.rfind("--", 0) != 0) {
            return common::badInput("line " + std::to_string(number) + " is no option: " + option,
                                    2);
        }
        const auto nameEnd = std::find_if(option.begin(), option.end(), blank);
        arguments.emplace_back(option.begin(), nameEnd);
        const auto value = std::find_if_not(nameEnd, option.end(), blank);
        if (value != option.end()) {
            arguments.emplace_back(value, option.end());
        }
    }
    return arguments;
}

std::string optionsFilePath(const std::string& configHome, const std::string& systemFile)
{
    const std::string user = configHome + "/mapservice/options";
    for (const std::string& path : {user, systemFile}) {
        if (std::ifstream(path).good()) {
            return path;
        }
    }
    return {};
}

std::string usageText(const std::string& dataFolder)
{
    std::string text = R"(usage: mapservice [--bind ADDRESS] [--port PORT] [--data FOLDER]
                  [--source [CODE=]SPEC]... [--attribution [CODE=]TEXT]...
                  [--legend [CODE=]full|none]...
                  [--cache FOLDER] [--cache-max-mb MB] [--max-zoom [CODE=]Z]
                  [--upstream-timeout SECONDS] [--max-tile-mb MB] [--contact TEXT]
                  [--header-timeout SECONDS] [--max-per-client N] [--queue N] [--log]
Serves map pictures at http://ADDRESS:PORT/pub/agent.dll
  --bind ADDRESS      address to listen on (default @HOST@)
  --port PORT         port to listen on (default @PORT@; 0 picks a free one)
  --data FOLDER       binned shoreline files (default @DATA@)
  --source SPEC       where the pictures come from, for every map code:
                        drawn        the map drawn from the shorelines (default)
                        xyz:URL      a slippy-map tile server, URL with {z} {x} {y}
                        wms:URL      a WMS GetMap endpoint, URL with LAYERS=...
                        FILE         anything GDAL opens as a raster (GeoTIFF, MBTiles,
                                     VRT)
                      where a server has no tile (404, 204), its parent tiles up
                      to 8 zooms coarser are enlarged, else the drawn map shows
  --source CODE=SPEC  the same for one map code (EUR0407, USA407, EURO809, WLD0407), or
                      type1 (the first three) or type2 (WLD0407); wins over SPEC alone
  --attribution [CODE=]TEXT  the credit of the source of every map code or of one
                      (default: the source's own, where it has one; the drawn map's
                      is its shoreline data), sent in each picture's Map-Credit header
  --legend [CODE=]full|none  whether pictures carry the legend box with centre, zoom
                      and credit (default: the drawn map full, a real source none)
  --cache FOLDER      upstream tiles (default $XDG_CACHE_HOME/mapservice or
                      ~/.cache/mapservice)
  --cache-max-mb MB   the most the cache may hold; the least recently used tiles
                      go first (default 2048)
  --max-zoom [CODE=]Z  the finest tile zoom asked of a tile server, of every map
                      code or of one (default 19)
  --upstream-timeout SECONDS  the most a picture waits for its upstream servers:
                      504 after it, 502 when they fail (default 30)
  --max-tile-mb MB    the largest upstream answer taken; a larger one fails its
                      picture (default 16)
  --contact TEXT      added to the User-Agent, as tile servers ask
  --header-timeout SECONDS  the most a client may take to send a request, counted
                      from its first byte (default 10)
  --max-per-client N  open connections one client address may hold (default 16)
  --queue N           map requests that may wait for a drawing slot; more are
                      answered 503 at once (default 32)
  --log               one line per request on standard error: time, client, method,
                      path, status, body bytes, milliseconds, separated by tabs
  --help              this text
  --version           the service's version
Options are also read from $XDG_CONFIG_HOME/mapservice/options (~/.config/mapservice/options)
or, when there is none, /etc/mapservice/options: one option per line, "#" starts a comment.
Options on the command line win.
)";
    const auto fill = [&text](const std::string& key, const std::string& value) {
        text.replace(text.find(key), key.size(), value);
    };
    fill("@DATA@", dataFolder);
    fill("@HOST@", MAPSUITE_SERVICE_HOST);
    fill("@PORT@", std::to_string(MAPSUITE_SERVICE_PORT));
    return text;
}

} // namespace mapservice
