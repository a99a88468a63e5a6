#include "mapservice/http/options.h"

#include "common/optiontable.h"
#include "mapservice/sources/dialects.h"

#include <algorithm>
#include <fstream>
#include <sstream>

namespace mapservice {

namespace {

using common::options::Option;
using common::options::Refusal;
using common::options::switchOption;
using common::options::textOption;
using common::options::wholeOption;

// An option that takes a whole number from |low| to |high| into |store|, its default shown as
// |byDefault|.
Option numberOption(const char* name, const char* placeholder, std::string help, long low,
                    long high, long byDefault, std::function<void(long)> store)
{
    return wholeOption(name, placeholder, std::move(help), static_cast<double>(low),
                       static_cast<double>(high), std::to_string(byDefault), std::move(store));
}

// A "[CODE=]VALUE" option of the sources, taken into the record of its code (see
// SourceConfigs), which refuses what it cannot take.
Option codedOption(const char* name, const char* placeholder, std::string help,
                   std::string byDefault, Options& o)
{
    Option option =
        textOption(name, placeholder, std::move(help), std::move(byDefault), nullptr, true);
    option.take = [&o, name](const std::string& value) -> Refusal {
        if (auto taken = o.sources.take(name, value); !taken) {
            return taken.error().text;
        }
        return std::nullopt;
    };
    return option;
}

// The options, each storing what it takes in |o|; |dataFolder| is named as the shorelines'
// default.
std::vector<Option> optionTable(Options& o, const std::string& dataFolder)
{
    const Options defaults;
    const auto number = [](long n) { return std::to_string(n); };
    const auto seconds = [](std::chrono::milliseconds t) {
        return static_cast<long>(std::chrono::duration_cast<std::chrono::seconds>(t).count());
    };
    return {
        textOption("--bind", "ADDRESS", "address to listen on", defaults.bind,
                   [&o](const std::string& v) { o.bind = v; }),
        numberOption("--port", "PORT", "port to listen on; 0 picks a free one", 0, 65535,
                     defaults.port, [&o](long v) { o.port = static_cast<int>(v); }),
        textOption("--data", "FOLDER", "binned shoreline files", dataFolder,
                   [&o](const std::string& v) { o.data = v; }),
        codedOption("--source", "[CODE=]SPEC",
                    "where the pictures come from, for every map code or\n"
                    "for one CODE (EUR0407, USA407, EURO809, WLD0407), or type1 (the first\n"
                    "three) or type2 (WLD0407); a CODE wins over SPEC alone:\n"
                    "  drawn        the map drawn from the shorelines (default)\n" +
                        dialectHelp() +
                        "  FILE         anything GDAL opens as a raster (GeoTIFF, MBTiles,\n"
                        "               VRT)\n"
                        "for example:\n" +
                        dialectExamples() +
                        "where a server has no tile (404, 204, TileOutOfRange), coarser\n"
                        "tiles up to 8 levels up are enlarged, else the drawn map shows",
                    "", o),
        codedOption("--attribution", "[CODE=]TEXT",
                    "the credit of the source of every map code or of one\n"
                    "(default: the source's own, where it has one; the drawn map's\n"
                    "is its shoreline data), sent in each picture's Map-Credit header",
                    "", o),
        codedOption("--legend", "[CODE=]full|none",
                    "whether pictures carry the legend box with centre, zoom\n"
                    "and credit (default: the drawn map full, a real source none)",
                    "", o),
        textOption("--cache", "FOLDER", "upstream tiles",
                   "$XDG_CACHE_HOME/mapservice or ~/.cache/mapservice",
                   [&o](const std::string& v) { o.cache = v; }),
        numberOption("--cache-max-mb", "MB",
                     "the most the cache may hold; the least recently used tiles\n"
                     "go first",
                     1, 1'000'000, defaults.cacheMaxMegabytes,
                     [&o](long v) { o.cacheMaxMegabytes = static_cast<int>(v); }),
        codedOption("--max-zoom", "[CODE=]Z",
                    "the finest tile zoom asked of a tile server, of every map\n"
                    "code or of one (0 to 24)",
                    number(RemoteOptions().maxZoom), o),
        codedOption("--header", "[CODE=]\"NAME: VALUE\"",
                    "a header line sent with every request to the remote source\n"
                    "of every map code or of one (an API key, a Referer), to its own\n"
                    "host alone; never logged or shown; Host and User-Agent are the\n"
                    "service's. Keep a key in the options file, readable by you alone:\n"
                    "ps shows a command line to every user",
                    "", o),
        codedOption("--max-rate", "[CODE=]N",
                    "the most requests a second started to the remote source of\n"
                    "every map code or of one, 0.001 to 1000",
                    "no limit but two connections a host", o),
        numberOption("--upstream-timeout", "SECONDS",
                     "the most a picture waits for its upstream servers:\n"
                     "504 after it, 502 when they fail",
                     1, 3600, defaults.upstreamTimeout,
                     [&o](long v) { o.upstreamTimeout = static_cast<int>(v); }),
        numberOption("--max-tile-mb", "MB",
                     "the largest upstream answer taken; a larger one fails its\n"
                     "picture",
                     1, 1024, defaults.maxTileMegabytes,
                     [&o](long v) { o.maxTileMegabytes = static_cast<int>(v); }),
        textOption("--contact", "TEXT", "added to the User-Agent, as tile servers ask", "",
                   [&o](const std::string& v) { o.contact = v; }),
        {"--public-url", "URL",
         "the address the TileJSON and WMTS documents name, as clients\nreach the service "
         "behind a proxy (default: the one each request was sent\nto, from its Host header)",
         [&o](const std::string& v) -> Refusal {
             const bool web = v.rfind("http://", 0) == 0 || v.rfind("https://", 0) == 0;
             if (!web || v.find_first_of(" \t\r\n\"'<>&") != std::string::npos) {
                 return "--public-url needs an http:// or https:// address without blanks, "
                        "quotes, <, > or &";
             }
             o.publicUrl = v;
             return std::nullopt;
         },
         false, true},
        numberOption("--header-timeout", "SECONDS",
                     "the most a client may take to send a request, counted\n"
                     "from its first byte",
                     1, 3600, seconds(defaults.limits.headerTimeout),
                     [&o](long v) { o.limits.headerTimeout = std::chrono::seconds(v); }),
        numberOption("--max-per-client", "N", "open connections one client address may hold", 1,
                     10'000, defaults.limits.maxPerClient,
                     [&o](long v) { o.limits.maxPerClient = static_cast<int>(v); }),
        numberOption("--queue", "N",
                     "map requests that may wait for a drawing slot; more are\n"
                     "answered 503 at once",
                     0, 10'000, defaults.limits.queue,
                     [&o](long v) { o.limits.queue = static_cast<int>(v); }),
        switchOption("--log",
                     "one line per request on standard error: time, client, method,\n"
                     "path, status, body bytes, milliseconds, separated by tabs",
                     o.log),
        switchOption("--help", "this text", o.help, false),
        switchOption("--version", "the service's version", o.version, false),
    };
}

} // namespace

common::Result<Options> parseOptions(const std::vector<std::string>& arguments, Options options)
{
    const auto table = optionTable(options, {});
    common::options::Wording wording;
    wording.unknown = [](const std::string& argument) {
        return "unknown or incomplete option " + argument;
    };
    wording.badValue = [](const Option& option, const std::string& value) {
        return "bad value for " + option.name + ": " + value + " (" +
               common::options::range(option.value) + ")";
    };
    const Refusal refused = common::options::parse(
        table, arguments, wording, [&options, &wording](const std::string& argument) -> Refusal {
            if (argument == "-h") {
                options.help = true;
                return std::nullopt;
            }
            return wording.unknown(argument);
        });
    if (refused) {
        return common::badInput(*refused, 2);
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
    constexpr char start[] = "Usage: mapservice ";
    Options unused;
    const auto table = optionTable(unused, dataFolder);
    return start + common::options::synopsis(table, sizeof start - 1) +
           "\nServes map pictures at http://ADDRESS:PORT/pub/agent.dll, and for other map "
           "programs\n"
           "  the map page       http://ADDRESS:PORT/\n"
           "  XYZ tiles          http://ADDRESS:PORT/tiles/CODE/{z}/{x}/{y}.png (.jpg, .webp, "
           "@2x)\n"
           "  TileJSON           http://ADDRESS:PORT/tiles/CODE.json\n"
           "  WMTS               http://ADDRESS:PORT/wmts/1.0.0/WMTSCapabilities.xml\n"
           "CODE is EUR0407, USA407, EURO809 or WLD0407. QGIS opens the tiles as an XYZ "
           "connection\n"
           "or the WMTS address as a WMS/WMTS connection; OsmAnd and Locus take the tiles'\n"
           "address as an online map source; GDAL opens\n"
           "  WMTS:http://ADDRESS:PORT/wmts/1.0.0/WMTSCapabilities.xml,layer=CODE\n\n"
           "Options:\n" +
           common::options::optionLines(table, 22) +
           "Options are also read from $XDG_CONFIG_HOME/mapservice/options "
           "(~/.config/mapservice/options)\n"
           "or, when there is none, /etc/mapservice/options: one option per line, \"#\" starts a "
           "comment.\n"
           "Options on the command line win.\n";
}

} // namespace mapservice
