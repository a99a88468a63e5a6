// Reading a WMTS capabilities document (OGC 07-057r7) into a tile grid and a tile URL.
#include "mapservice/protocol/outsidecrs.h"
#include "mapservice/protocol/tileservice.h"
#include "mapservice/protocol/wmtsaddress.h"
#include "mapservice/protocol/xmlnodes.h"

#include <cpl_minixml.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <sstream>
#include <strings.h>

namespace mapservice {

namespace {

// A number, or NaN when |t| is none.
double number(const std::string& t)
{
    char* end = nullptr;
    const double v = std::strtod(t.c_str(), &end);
    return t.empty() || *end != '\0' ? std::nan("") : v;
}

// Two numbers separated by blanks ("-180 90"); NaN where there are not two.
std::pair<double, double> pair(const std::string& t)
{
    std::istringstream in(t);
    std::string a;
    std::string b;
    std::string more;
    in >> a >> b;
    if (!(in >> more).fail()) {
        return {std::nan(""), std::nan("")};
    }
    return {number(a), number(b)};
}

// "a, b, c", the first 20 of them.
std::string listed(const std::vector<std::string>& names)
{
    std::string out;
    for (std::size_t i = 0; i < names.size() && i < 20; ++i) {
        out += (i == 0 ? "" : ", ") + names[i];
    }
    return names.size() > 20 ? out + " ..." : out;
}

// The one of |offered| that |wanted| names, else the only one, else the one |preferred| picks
// (its index; npos: none may be taken), said in |notes|; or why none is chosen.
common::Result<std::string>
choose(const std::vector<std::string>& offered, const std::string& wanted, const std::string& what,
       const std::string& param,
       const std::function<std::size_t(const std::vector<std::string>&)>& preferred = nullptr,
       std::vector<std::string>* notes = nullptr)
{
    if (offered.empty()) {
        return common::passing("the capabilities offer no " + what, 502);
    }
    if (!wanted.empty()) {
        if (std::find(offered.begin(), offered.end(), wanted) == offered.end()) {
            return common::passing("the capabilities offer no " + what + " " + wanted +
                                       "; they offer " + listed(offered),
                                   502);
        }
        return wanted;
    }
    if (offered.size() == 1) {
        return offered.front();
    }
    const std::size_t taken = preferred ? preferred(offered) : std::string::npos;
    if (taken >= offered.size()) {
        return common::passing("the capabilities offer more than one " + what + " (" +
                                   listed(offered) + "): name one with #" + param + "=",
                               502);
    }
    if (notes != nullptr) {
        notes->push_back("the layer offers the " + what + "s " + listed(offered) + ": " +
                         offered[taken] + " is taken; #" + param + "= names another");
    }
    return offered[taken];
}

// Where several formats are offered: PNG, else JPEG, else the first.
std::size_t preferredFormat(const std::vector<std::string>& formats)
{
    for (const char* kind : {"image/png", "image/jpeg", "image/jpg"}) {
        for (std::size_t i = 0; i < formats.size(); ++i) {
            if (strncasecmp(formats[i].c_str(), kind, std::strlen(kind)) == 0) {
                return i;
            }
        }
    }
    return 0;
}

std::vector<std::string> identifiers(const std::vector<const CPLXMLNode*>& nodes)
{
    std::vector<std::string> out;
    out.reserve(nodes.size());
    for (const CPLXMLNode* n : nodes) {
        out.push_back(text(n, "Identifier"));
    }
    return out;
}

} // namespace

bool isWmtsCapabilities(const std::string& xml)
{
    const XmlTree root = parseXml(xml);
    return child(topElement(root, "Capabilities"), "Contents") != nullptr;
}

namespace {

// The tile matrix set of |contents| called |id|, or none.
const CPLXMLNode* matrixSet(const CPLXMLNode* contents, const std::string& id)
{
    for (const CPLXMLNode* candidate : children(contents, "TileMatrixSet")) {
        if (text(candidate, "Identifier") == id) {
            return candidate;
        }
    }
    return nullptr;
}

// Where several tile matrix sets are linked: the first in Web Mercator, however it is written
// (its CRS, or the well-known scale set GoogleMapsCompatible), else the first.
std::size_t preferredSet(const CPLXMLNode* contents, const std::vector<std::string>& ids)
{
    for (std::size_t i = 0; i < ids.size(); ++i) {
        const CPLXMLNode* set = matrixSet(contents, ids[i]);
        const std::string scales = text(set, "WellKnownScaleSet");
        if (epsgCodeOf(text(set, "SupportedCRS")) == 3857 ||
            scales.find("GoogleMapsCompatible") != std::string::npos) {
            return i;
        }
    }
    return 0;
}

// The matrices of |set| in |crs|, each corner in the CRS's declared axis order unless |bounds|
// (the layer's, in degrees) shows that it was written the other way round: then swapped, and
// said in |notes|. Why the corners cannot be placed, when they cannot.
common::Result<std::vector<TileMatrix>> readMatrices(const CPLXMLNode* set, const CPLXMLNode* link,
                                                     const OutsideCrs& crs,
                                                     const std::optional<common::GeoBox>& bounds,
                                                     std::vector<std::string>& notes)
{
    const double metresPerUnit = crs.geographic ? metresPerDegree : crs.metresPerUnit;
    const auto whole = [](double v) {
        return std::isfinite(v) && v == std::floor(v) && std::abs(v) < 9e15
                   ? static_cast<std::int64_t>(v)
                   : std::int64_t{-1};
    };
    std::vector<TileMatrix> matrices;
    bool swappedAny = false;
    for (const CPLXMLNode* tm : children(set, "TileMatrix")) {
        TileMatrix m;
        m.id = text(tm, "Identifier");
        m.resolution = number(text(tm, "ScaleDenominator")) * standardPixelMetres / metresPerUnit;
        auto [a, b] = pair(text(tm, "TopLeftCorner"));
        if (crs.northingFirst) {
            std::swap(a, b);
        }
        m.left = a;
        m.top = b;
        m.tileWidth = static_cast<int>(
            std::clamp<std::int64_t>(whole(number(text(tm, "TileWidth"))), -1, 1 << 20));
        m.tileHeight = static_cast<int>(
            std::clamp<std::int64_t>(whole(number(text(tm, "TileHeight"))), -1, 1 << 20));
        m.matrixWidth = whole(number(text(tm, "MatrixWidth")));
        m.matrixHeight = whole(number(text(tm, "MatrixHeight")));
        for (const CPLXMLNode* limits :
             children(child(link, "TileMatrixSetLimits"), "TileMatrixLimits")) {
            if (text(limits, "TileMatrix") == m.id) {
                m.minRow = whole(number(text(limits, "MinTileRow")));
                m.maxRow = whole(number(text(limits, "MaxTileRow")));
                m.minCol = whole(number(text(limits, "MinTileCol")));
                m.maxCol = whole(number(text(limits, "MaxTileCol")));
            }
        }
        if (bounds && matrixOverBox(crs.wkt, m, *bounds) == false) {
            TileMatrix swapped = m;
            std::swap(swapped.left, swapped.top);
            if (matrixOverBox(crs.wkt, swapped, *bounds) != true) {
                return common::passing("the corner of tile matrix " + m.id.substr(0, 80) +
                                           " puts it off the layer's WGS84BoundingBox in either "
                                           "axis order",
                                       502);
            }
            m = swapped;
            swappedAny = true;
        }
        matrices.push_back(m);
    }
    if (swappedAny) {
        notes.emplace_back("the tile matrix set writes its corners in the other axis order than "
                           "its CRS declares: they are read the other way round");
    }
    return matrices;
}

} // namespace

common::Result<TileService> readWmtsCapabilities(const std::string& xml,
                                                 const std::string& capabilitiesUrl,
                                                 const SourceParams& spec)
{
    const XmlTree root = parseXml(xml);
    const CPLXMLNode* capabilities = topElement(root, "Capabilities");
    const CPLXMLNode* contents = child(capabilities, "Contents");
    if (contents == nullptr) {
        return common::passing("the capabilities are no WMTS capabilities document", 502);
    }
    TileService service;
    const auto layers = children(contents, "Layer");
    const auto layerId = choose(identifiers(layers), spec.param("layer"), "layer", "layer");
    if (!layerId) {
        return layerId.error();
    }
    const CPLXMLNode* layer = *std::find_if(layers.begin(), layers.end(), [&](const CPLXMLNode* l) {
        return text(l, "Identifier") == *layerId;
    });

    const auto links = children(layer, "TileMatrixSetLink");
    std::vector<std::string> setNames;
    setNames.reserve(links.size());
    for (const CPLXMLNode* link : links) {
        setNames.push_back(text(link, "TileMatrixSet"));
    }
    const auto setId = choose(
        setNames, spec.param("tilematrixset"), "tile matrix set", "tilematrixset",
        [contents](const std::vector<std::string>& ids) { return preferredSet(contents, ids); },
        &service.notes);
    if (!setId) {
        return setId.error();
    }
    const CPLXMLNode* link = links[static_cast<std::size_t>(
        std::find(setNames.begin(), setNames.end(), *setId) - setNames.begin())];

    std::vector<std::string> styles;
    std::string defaultStyle;
    for (const CPLXMLNode* style : children(layer, "Style")) {
        styles.push_back(text(style, "Identifier"));
        if (attribute(style, "isDefault") == "true") {
            defaultStyle = styles.back();
        }
    }
    const std::string wantedStyle =
        spec.param("style").empty() ? defaultStyle : spec.param("style");
    auto style = styles.empty() && wantedStyle.empty()
                     ? common::Result<std::string>(std::string("default"))
                     : choose(styles, wantedStyle, "style", "style");
    if (!style) {
        return style.error();
    }

    std::vector<std::string> formats;
    for (const CPLXMLNode* format : children(layer, "Format")) {
        formats.push_back(text(format));
    }
    std::string restTemplate;
    std::vector<std::string> restFormats;
    for (const CPLXMLNode* resource : children(layer, "ResourceURL")) {
        if (attribute(resource, "resourceType") == "tile") {
            restFormats.push_back(attribute(resource, "format"));
        }
    }
    const auto format = choose(formats.empty() ? restFormats : formats, spec.param("format"),
                               "format", "format", preferredFormat, &service.notes);
    if (!format) {
        return format.error();
    }
    for (const CPLXMLNode* resource : children(layer, "ResourceURL")) {
        if (attribute(resource, "resourceType") == "tile" &&
            attribute(resource, "format") == *format) {
            restTemplate = attribute(resource, "template");
        }
    }

    // The grid.
    const CPLXMLNode* set = matrixSet(contents, *setId);
    if (set == nullptr) {
        return common::passing(
            "the capabilities link the tile matrix set " + *setId + " but do not describe it", 502);
    }
    const auto crs = readOutsideCrs(text(set, "SupportedCRS"));
    if (!crs) {
        return common::passing("the tile matrix set " + *setId + ": " + crs.error().text, 502);
    }
    service.grid.crs = crs->wkt;
    if (const CPLXMLNode* box = child(layer, "WGS84BoundingBox")) {
        const auto [west, south] = pair(text(box, "LowerCorner"));
        const auto [east, north] = pair(text(box, "UpperCorner"));
        if (std::isfinite(west) && std::isfinite(south) && std::isfinite(east) &&
            std::isfinite(north) && west < east && south < north) {
            service.grid.bounds =
                common::GeoBox{.west = west, .south = south, .east = east, .north = north};
        }
    }
    auto matrices = readMatrices(set, link, *crs, service.grid.bounds, service.notes);
    if (!matrices) {
        return common::passing("the tile matrix set " + *setId + ": " + matrices.error().text, 502);
    }
    service.grid.matrices = std::move(matrices).value();
    if (const auto problem = settleGrid(service.grid)) {
        return common::passing("the tile matrix set " + *setId + ": " + *problem, 502);
    }

    const WmtsChoice choice{*layerId, *setId, *style, *format, restTemplate};
    if (auto addressed = setTileAddress(service, capabilities, layer, capabilitiesUrl, choice,
                                        spec.param("hosts"));
        !addressed) {
        return addressed.error();
    }
    return service;
}

} // namespace mapservice
