#pragma once

// A remote source's URL and the parameters written after a '#' at its end, one syntax for every
// kind of server: "URL#layer=ortho&tilematrixset=utm32&tilesize=512".
#include "common/result.h"

#include <map>
#include <string>
#include <vector>

namespace mapservice {

struct SourceParams {
    std::string url;                           // what comes before the '#'
    std::map<std::string, std::string> params; // names in lower case, values decoded
    // The value of |name|, or "" when it is not given.
    std::string param(const std::string& name) const;
};

// |text| split at its last '#'. A parameter not in |known| is refused, and so is one without a
// '=' or given twice; the refusal names |source| ("an xyz: source") and the parameters it knows.
common::Result<SourceParams> splitSourceParams(const std::string& source, const std::string& text,
                                               const std::vector<std::string>& known);

// |text| with ASCII capitals made small.
std::string lowerAscii(std::string text);

// Whether |text| is one or more ASCII letters and digits (a map code, a kind of source).
bool isWord(const std::string& text);

} // namespace mapservice
