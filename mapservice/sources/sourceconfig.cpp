#include "mapservice/sources/sourceconfig.h"

#include "common/printable.h"
#include "mapservice/protocol/sourceparams.h"
#include "mapservice/sources/source.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <functional>

namespace mapservice {

namespace {

// The codes a "CODE=" prefix stands for, or nothing when the prefix is no code.
std::vector<std::string> codesOf(const std::string& prefix)
{
    if (prefix == "type1") {
        return {"EUR0407", "USA407", "EURO809"};
    }
    if (prefix == "type2") {
        return {"WLD0407"};
    }
    const std::vector<MapLayer> layers = standardLayers();
    if (std::any_of(layers.begin(), layers.end(),
                    [&prefix](const MapLayer& layer) { return layer.code == prefix; })) {
        return {prefix};
    }
    return {};
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
    if (isWord(prefix)) {
        return common::badInput(option + " " + argument + ": " + prefix +
                                    " is no map code; the codes are EUR0407, USA407, EURO809, "
                                    "WLD0407, type1 and type2",
                                2);
    }
    return Coded{{}, argument};
}

// Why |line| cannot be a --header; nothing when it can.
std::optional<std::string> headerProblem(const std::string& line)
{
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
        return shown + ": a header is written \"Name: value\", on one line";
    }
    const std::string lowered = lowerAscii(name);
    if (lowered == "host" || lowered == "user-agent") {
        return shown + ": the service sets " + name + " itself (the User-Agent with --contact)";
    }
    if (lowered == "cache-control" || lowered == "pragma" || lowered == "if-none-match" ||
        lowered == "if-modified-since") {
        return shown + ": the service's cache decides " + name;
    }
    return std::nullopt;
}

} // namespace

common::Status SourceConfigs::take(const std::string& option, const std::string& argument)
{
    // --attribution takes any text: a prefix that is no code is part of it.
    std::optional<Coded> coded;
    if (option == "--attribution") {
        const std::size_t eq = argument.find('=');
        std::vector<std::string> codes =
            eq == std::string::npos ? std::vector<std::string>{} : codesOf(argument.substr(0, eq));
        coded =
            codes.empty() ? Coded{{}, argument} : Coded{std::move(codes), argument.substr(eq + 1)};
    } else {
        auto split = splitCoded(option, argument);
        if (!split) {
            return split.error();
        }
        coded = std::move(split).value();
    }
    const std::string& value = coded->value;
    std::function<void(SourceConfig&)> set;
    if (option == "--source") {
        if (value.empty()) {
            return common::badInput("--source " + common::printable(argument) + ": no source given",
                                    2);
        }
        set = [&](SourceConfig& c) {
            c.spec = value;
            c.argument = argument;
        };
    } else if (option == "--attribution") {
        set = [&](SourceConfig& c) { c.credit = value; };
    } else if (option == "--legend") {
        if (value != "full" && value != "none") {
            return common::badInput("--legend " + argument + ": full or none", 2);
        }
        set = [&](SourceConfig& c) { c.legend = value == "full"; };
    } else if (option == "--max-zoom") {
        char* end = nullptr;
        const long zoom = std::strtol(value.c_str(), &end, 10);
        if (value.empty() || *end != '\0' || zoom < 0 || zoom > 24) {
            return common::badInput("--max-zoom " + argument + ": a zoom from 0 to 24", 2);
        }
        set = [zoom](SourceConfig& c) { c.maxZoom = static_cast<int>(zoom); };
    } else if (option == "--header") {
        if (const auto problem = headerProblem(value)) {
            return common::badInput(*problem, 2);
        }
        set = [&](SourceConfig& c) { c.headers.push_back(value); };
    } else if (option == "--max-rate") {
        char* end = nullptr;
        const double rate = std::strtod(value.c_str(), &end);
        // Below a request in 1000 seconds the gap between two requests would be past any
        // timer's reach (1e-320 made the gate let everything through).
        if (value.empty() || *end != '\0' || !(rate >= 0.001) || rate > 1000) {
            return common::badInput("--max-rate " + common::printable(argument) +
                                        ": requests a second, from 0.001 to 1000",
                                    2);
        }
        set = [rate](SourceConfig& c) { c.maxRate = rate; };
    } else {
        return common::badInput(option + " sets nothing of a source", 2);
    }
    if (coded->codes.empty()) {
        set(general);
    }
    for (const std::string& code : coded->codes) {
        set(byCode[code]);
    }
    return {};
}

} // namespace mapservice
