#pragma once

// The kinds of remote source, by the word before the ':' of a --source: each is made in a file
// of its own (xyzsource, wmssource, wmtssource, arcgissource) and named in one row of the table.
#include "common/result.h"
#include "mapservice/protocol/sourceparams.h"
#include "mapservice/sources/remotesource.h"

#include <memory>
#include <span>
#include <string>
#include <vector>

namespace mapservice {

// What a remote source is made from.
struct RemoteSpec {
    std::string text;    // as given, after the dialect's ':'
    SourceParams params; // its URL and # parameters, read
    Upstreams& upstreams;
    const ShoreData& shores;
    Manners manners;
};

struct Dialect {
    const char* name;
    const char* article;             // that its messages take: "an xyz: source"
    std::vector<std::string> params; // the # parameters it knows
    common::Result<std::unique_ptr<Source>> (*make)(const RemoteSpec& spec);
    const char* help;    // what --help says of NAME:URL, "\n" between its lines
    const char* example; // a --source of it, for --help, without "NAME:"
};

// Every dialect, in the order the help names them.
std::span<const Dialect> dialects();

// The lines of --help that name the dialects ("  xyz:URL      a tile server, ..."), and their
// examples ("  xyz:https://..."), each line ending in a line break.
std::string dialectHelp();
std::string dialectExamples();

common::Result<std::unique_ptr<Source>> makeXyzSource(const RemoteSpec& spec);
common::Result<std::unique_ptr<Source>> makeTmsSource(const RemoteSpec& spec);
common::Result<std::unique_ptr<Source>> makeWmsSource(const RemoteSpec& spec);
common::Result<std::unique_ptr<Source>> makeWmtsSource(const RemoteSpec& spec);
common::Result<std::unique_ptr<Source>> makeArcgisSource(const RemoteSpec& spec);

} // namespace mapservice
