#include "mapservice/sources.h"

#include "mapservice/rastersource.h"

#include <cpl_string.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <optional>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace mapservice {

namespace {

// Half the Web Mercator world's width in metres.
constexpr double mercatorHalf = 20037508.342789244;

std::string xml(const std::string& text)
{
    char* escaped = CPLEscapeString(text.c_str(), static_cast<int>(text.size()), CPLES_XML);
    std::string out(escaped);
    CPLFree(escaped);
    return out;
}

std::string common(const RemoteOptions& options)
{
    std::string out = "<MaxConnections>2</MaxConnections><Timeout>" +
                      std::to_string(options.timeoutSeconds) + "</Timeout>";
    if (!options.userAgent.empty()) {
        out += "<UserAgent>" + xml(options.userAgent) + "</UserAgent>";
    }
    if (!options.cacheFolder.empty()) {
        out += "<Cache><Path>" + xml(options.cacheFolder) + "</Path><MaxSize>" +
               std::to_string(static_cast<long long>(options.cacheMaxMegabytes) * 1024 * 1024) +
               "</MaxSize></Cache>";
    }
    return out;
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to)
{
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
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

std::string xyzDescription(const std::string& url, const RemoteOptions& options)
{
    std::string server =
        replaceAll(replaceAll(replaceAll(url, "{z}", "${z}"), "{x}", "${x}"), "{y}", "${y}");
    char bounds[256];
    std::snprintf(bounds, sizeof bounds,
                  "<UpperLeftX>%.9f</UpperLeftX><UpperLeftY>%.9f</UpperLeftY>"
                  "<LowerRightX>%.9f</LowerRightX><LowerRightY>%.9f</LowerRightY>",
                  -mercatorHalf, mercatorHalf, mercatorHalf, -mercatorHalf);
    return "<GDAL_WMS><Service name=\"TMS\"><ServerUrl>" + xml(server) +
           "</ServerUrl></Service><DataWindow>" + bounds + "<TileLevel>" +
           std::to_string(options.maxZoom) +
           "</TileLevel><TileCountX>1</TileCountX><TileCountY>1</TileCountY>"
           "<YOrigin>top</YOrigin></DataWindow><Projection>EPSG:3857</Projection>"
           "<BlockSizeX>256</BlockSizeX><BlockSizeY>256</BlockSizeY><BandsCount>3</BandsCount>" +
           common(options) + "</GDAL_WMS>";
}

std::string wmsDescription(const std::string& url, const RemoteOptions& options)
{
    // LAYERS, STYLES and FORMAT of the URL become the description's own fields; GDAL adds
    // them to every request.
    std::string layers;
    std::string styles;
    std::string format = "image/png";
    std::string server;
    const std::size_t question = url.find('?');
    server = url.substr(0, question == std::string::npos ? url.size() : question + 1);
    if (question != std::string::npos) {
        std::string rest = url.substr(question + 1);
        std::size_t start = 0;
        while (start <= rest.size()) {
            const std::size_t end = std::min(rest.find('&', start), rest.size());
            const std::string part = rest.substr(start, end - start);
            const std::size_t eq = part.find('=');
            const std::string key = upper(part.substr(0, eq));
            const std::string value = eq == std::string::npos ? "" : part.substr(eq + 1);
            if (key == "LAYERS") {
                layers = value;
            } else if (key == "STYLES") {
                styles = value;
            } else if (key == "FORMAT") {
                format = value;
            } else if (!part.empty() && key != "SERVICE" && key != "REQUEST") {
                server += part + "&";
            }
            start = end + 1;
        }
    }
    return "<GDAL_WMS><Service name=\"WMS\"><Version>1.1.1</Version><ServerUrl>" + xml(server) +
           "</ServerUrl><SRS>EPSG:4326</SRS><ImageFormat>" + xml(format) +
           "</ImageFormat><Layers>" + xml(layers) + "</Layers><Styles>" + xml(styles) +
           "</Styles></Service><DataWindow><UpperLeftX>-180</UpperLeftX>"
           "<UpperLeftY>90</UpperLeftY><LowerRightX>180</LowerRightX><LowerRightY>-90"
           "</LowerRightY><SizeX>268435456</SizeX><SizeY>134217728</SizeY></DataWindow>"
           "<Projection>EPSG:4326</Projection><BlockSizeX>1024</BlockSizeX>"
           "<BlockSizeY>1024</BlockSizeY><BandsCount>3</BandsCount>" +
           common(options) + "</GDAL_WMS>";
}

SourceTable::SourceTable(const ShoreData& shores, RemoteOptions options)
    : shores_(shores), options_(std::move(options)), drawn_(shores_)
{}

SourceTable::~SourceTable() = default;

common::Result<const Source*> SourceTable::make(const std::string& spec)
{
    if (spec == "drawn") {
        return static_cast<const Source*>(&drawn_);
    }
    std::string connection = spec;
    std::optional<int> tileLevels; // for a tile server: the finest zoom
    if (spec.rfind("xyz:", 0) == 0) {
        const std::string url = spec.substr(4);
        if (url.find("{z}") == std::string::npos || url.find("{x}") == std::string::npos ||
            url.find("{y}") == std::string::npos) {
            return common::badInput("an xyz: source needs {z}, {x} and {y} in its URL");
        }
        connection = xyzDescription(url, options_);
        tileLevels = options_.maxZoom;
    } else if (spec.rfind("wms:", 0) == 0) {
        const std::string url = spec.substr(4);
        if (upper(url).find("LAYERS=") == std::string::npos) {
            return common::badInput("a wms: source needs LAYERS=... in its URL");
        }
        connection = wmsDescription(url, options_);
    }
    if (const auto reason = unreadableFile(spec)) {
        return common::notFound("the map source " + spec + " cannot be opened: " + *reason);
    }
    // A remote server gets its two connections from one dataset at a time.
    auto opened = RasterSource::open(connection, shores_, tileLevels, connection != spec);
    if (!opened) {
        return opened.error();
    }
    owned_.push_back(std::move(opened).value());
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
        return common::badInput("--source " + argument + ": no source given", 2);
    }
    auto made = make(spec);
    if (!made) {
        common::Error error = made.error();
        error.text = "--source " + argument + ": " + error.text;
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

common::Result<Picture> SourceTable::draw(const MapRequest& request) const
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
    return (source != nullptr ? source : &drawn_)->draw(credited);
}

} // namespace mapservice
