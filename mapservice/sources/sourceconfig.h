#pragma once

// What the options say of the source of each map code: every --source, --attribution,
// --legend, --max-zoom, --header and --max-rate is read once, its map code split off and its
// value checked, into one record for every code and one for each code it names, before any
// source is made (see SourceTable::use).
#include "common/result.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace mapservice {

struct SourceConfig {
    std::string spec;     // --source: "drawn", "xyz:URL#...", a file; empty: none named
    std::string argument; // the --source argument that named it, for messages
    std::optional<std::string> credit; // --attribution
    std::optional<bool> legend;        // --legend full|none
    std::optional<int> maxZoom;        // --max-zoom
    std::vector<std::string> headers;  // --header lines, in the order given
    double maxRate = 0;                // --max-rate, requests a second; 0: no limit
};

class SourceConfigs {
public:
    // Takes one argument of |option| (--source, --attribution, --legend, --max-zoom, --header
    // or --max-rate): VALUE for every map code, or
    // CODE=VALUE for one, CODE one of EUR0407, USA407, EURO809, WLD0407, type1 (the first three)
    // and type2 (WLD0407). A refusal, with status 2, names the option and says what is wrong
    // (a --header's value, which may be a key, is never shown). A later argument for the same
    // code wins, but --header lines add up.
    common::Status take(const std::string& option, const std::string& argument);

    SourceConfig general;
    std::map<std::string, SourceConfig> byCode;
};

} // namespace mapservice
