#include "mapservice/sources/dialects.h"

#include <algorithm>

namespace mapservice {

std::span<const Dialect> dialects()
{
    static const Dialect table[] = {
        {"xyz",
         "an",
         {"subdomains", "tilesize"},
         makeXyzSource,
         "a tile server, URL with {z} {x} {y} (or {-y}, rows\n"
         "from the south), or {q} (quadkey); {s} one of\n"
         "#subdomains=abc; #tilesize=512, {r} then @2x",
         "https://{s}.tiles.example/{z}/{x}/{y}{r}.png#subdomains=abc"},
        {"tms",
         "a",
         {"subdomains", "tilesize"},
         makeTmsSource,
         "the same as xyz:URL/{z}/{x}/{-y}.png",
         "https://tiles.example/tms/1.0.0/topo"},
        {"wms",
         "a",
         {},
         makeWmsSource,
         "a WMS GetMap endpoint, URL with LAYERS=... (and\n"
         "VERSION=1.3.0, CRS=EPSG:3857 if wanted)",
         "https://maps.example/wms?VERSION=1.3.0&LAYERS=topo"},
        {"wmts",
         "a",
         {"layer", "tilematrixset", "style", "format", "hosts"},
         makeWmtsSource,
         "a WMTS, URL of its capabilities, with\n"
         "#layer= #tilematrixset= #style= #format= where it\n"
         "offers more than one (else PNG, then JPEG; the set\n"
         "in EPSG:3857), #hosts=HOST[:PORT],... where its tiles\n"
         "are on another host than the capabilities",
         "https://maps.example/wmts/WMTSCapabilities.xml#layer=ortho\n"
         "     &tilematrixset=EPSG:25832"},
        {"arcgis",
         "an",
         {},
         makeArcgisSource,
         "a tiled map service, URL ending in /MapServer or\n"
         "/ImageServer",
         "https://maps.example/arcgis/rest/services/Topo/MapServer"},
    };
    return table;
}

namespace {

// |text| with every line after the first indented by |indent| spaces.
std::string indented(std::string text, std::size_t indent)
{
    for (std::size_t at = 0; (at = text.find('\n', at)) != std::string::npos; at += indent + 1) {
        text.insert(at + 1, indent, ' ');
    }
    return text;
}

} // namespace

std::string dialectHelp()
{
    constexpr std::size_t column = 15; // where the help starts, after "  NAME:URL"
    std::string text;
    for (const Dialect& d : dialects()) {
        std::string head = "  " + std::string(d.name) + ":URL";
        head.resize(std::max(column, head.size() + 1), ' ');
        text += head + indented(d.help, column) + "\n";
    }
    return text;
}

std::string dialectExamples()
{
    std::string text;
    for (const Dialect& d : dialects()) {
        text += "  " + std::string(d.name) + ":" + indented(d.example, 2) + "\n";
    }
    return text;
}

} // namespace mapservice
