#pragma once

#include "common/result.h"
#include "mapservice/http/server.h"
#include "mapservice/sources/sourceconfig.h"

#include <string>
#include <vector>

namespace mapservice {

// What the command line asks of the service.
struct Options {
    bool help = false;
    bool version = false;
    bool log = false;
    std::string bind = MAPSUITE_SERVICE_HOST; // the suite's default address, set by the build
    int port = MAPSUITE_SERVICE_PORT;
    std::string data;
    // --source, --attribution, --legend, --max-zoom, --header and --max-rate, by map code.
    SourceConfigs sources;
    std::string cache;
    int cacheMaxMegabytes = 2048;
    int upstreamTimeout = 30; // seconds
    int maxTileMegabytes = 16;
    std::string contact;
    std::string publicUrl;
    ServerLimits limits;
};

// Reads the arguments after the program's name. |defaults| gives the values of options not
// named (the data and cache folders, which depend on the machine).
// A command line that cannot be followed gives a bad-input error whose text is what to tell
// the user on standard error, with exit status 2.
common::Result<Options> parseOptions(const std::vector<std::string>& arguments, Options defaults);

// The arguments an options file holds: one command-line option per line, its value after the
// first blank ("--source /data/alps.tif"); blank lines are skipped and "#" at the start of a
// line or after a blank starts a comment. A line that is no option is refused, naming its
// number.
common::Result<std::vector<std::string>> readOptionsFile(const std::string& text);

// The options file that applies: |configHome|/mapservice/options (configHome being
// $XDG_CONFIG_HOME, or ~/.config when that is unset) when it exists, else
// |systemFile| when it exists, else nothing.
std::string optionsFilePath(const std::string& configHome,
                            const std::string& systemFile = "/etc/mapservice/options");

// The usage text; |dataFolder| is named as the default shoreline folder.
std::string usageText(const std::string& dataFolder);

} // namespace mapservice
