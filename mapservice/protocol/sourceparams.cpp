#include "mapservice/protocol/sourceparams.h"

#include <algorithm>
#include <cctype>

namespace mapservice {

namespace {

// |text| with %XX sequences decoded ("%26" is '&', which the parameters' own syntax takes).
std::string decoded(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() &&
            std::isxdigit(static_cast<unsigned char>(text[i + 1])) != 0 &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2])) != 0) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

} // namespace

std::string lowerAscii(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool isWord(const std::string& text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(),
                                        [](unsigned char c) { return std::isalnum(c) != 0; });
}

std::string SourceParams::param(const std::string& name) const
{
    const auto it = params.find(name);
    return it == params.end() ? std::string() : it->second;
}

common::Result<SourceParams> splitSourceParams(const std::string& source, const std::string& text,
                                               const std::vector<std::string>& known)
{
    SourceParams split;
    const std::size_t hash = text.rfind('#');
    split.url = text.substr(0, hash);
    if (hash == std::string::npos) {
        return split;
    }
    std::string names;
    for (const std::string& name : known) {
        names += (names.empty() ? "" : ", ") + name;
    }
    const std::string knows =
        known.empty() ? "takes no #parameters" : "takes the #parameters " + names;
    const std::string parameters = text.substr(hash + 1);
    for (std::size_t start = 0; start < parameters.size();) {
        const std::size_t end = std::min(parameters.find('&', start), parameters.size());
        const std::string part = parameters.substr(start, end - start);
        start = end + 1;
        if (part.empty()) {
            continue;
        }
        const std::size_t eq = part.find('=');
        const std::string name = lowerAscii(part.substr(0, eq));
        if (eq == std::string::npos || std::find(known.begin(), known.end(), name) == known.end()) {
            std::string refusal = source;
            refusal.append(" ").append(knows).append("; ").append(part).append(" is none of them");
            return common::badInput(refusal);
        }
        if (!split.params.emplace(name, decoded(part.substr(eq + 1))).second) {
            std::string refusal = source;
            refusal.append(": #").append(name).append(" is given twice");
            return common::badInput(refusal);
        }
    }
    return split;
}

} // namespace mapservice
