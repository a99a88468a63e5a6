// The options that set the sources of the map codes and how they are asked.
#include "common/printable.h"
#include "mapservice/protocol/sourceparams.h"
#include "mapservice/sources/sources.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

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
    if (prefix == "EUR0407" || prefix == "USA407" || prefix == "EURO809" || prefix == "WLD0407") {
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

} // namespace

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
    specs_[source] = spec;
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
    const std::string lowered = lowerAscii(name);
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
    // Below a request in 1000 seconds the gap between two requests would be past any timer's
    // reach (1e-320 made the gate let everything through).
    if (coded->value.empty() || *end != '\0' || !(rate >= 0.001) || rate > 1000) {
        return common::badInput("--max-rate " + common::printable(argument) +
                                    ": requests a second, from 0.001 to 1000",
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

} // namespace mapservice
