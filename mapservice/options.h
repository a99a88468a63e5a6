#pragma once

#include "mapservice/server.h"

#include <string>
#include <variant>
#include <vector>

namespace mapservice {

// What the command line asks of the service.
struct Options {
    bool help = false;
    bool log = false;
    std::string bind = "127.0.0.1";
    int port = 8047;
    std::string data;
    std::vector<std::string> sources;
    std::vector<std::string> attributions;
    std::string cache;
    int cacheMaxMegabytes = 2048;
    int maxZoom = 19;
    std::string contact;
    ServerLimits limits;
};

// A command line that cannot be followed: what to tell the user on standard error.
struct OptionsError {
    std::string message;
};

// Reads the arguments after the program's name. |defaults| gives the values of options not
// named (the data and cache folders, which depend on the machine).
std::variant<Options, OptionsError> parseOptions(const std::vector<std::string>& arguments,
                                                 Options defaults);

// The usage text; |dataFolder| is named as the default shoreline folder.
std::string usageText(const std::string& dataFolder);

} // namespace mapservice
