// Reading a WMTS capabilities document (OGC 07-057r7) into a tile grid and a tile URL.
#include "common/gdal.h"
#include "mapservice/tileservice.h"
#include "mapservice/xmlnodes.h"

#include <cpl_minixml.h>
#include <ogr_srs_api.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
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

// The one of |offered| that |wanted| names, else the only one; or why none is chosen.
common::Result<std::string> choose(const std::vector<std::string>& offered,
                                   const std::string& wanted, const std::string& what,
                                   const std::string& param)
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
    if (offered.size() > 1) {
        return common::passing("the capabilities offer more than one " + what + " (" +
                                   listed(offered) + "): name one with #" + param + "=",
                               502);
    }
    return offered.front();
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

std::string replacedAll(std::string t, const std::string& key, const std::string& value)
{
    for (std::size_t at = 0;;) {
        // Placeholders are matched without regard to case: servers write {tilematrix} too.
        const auto found = std::search(t.begin() + static_cast<std::ptrdiff_t>(at), t.end(),
                                       key.begin(), key.end(), [](char a, char b) {
                                           return std::tolower(static_cast<unsigned char>(a)) ==
                                                  std::tolower(static_cast<unsigned char>(b));
                                       });
        if (found == t.end()) {
            return t;
        }
        at = static_cast<std::size_t>(found - t.begin());
        t.replace(at, key.size(), value);
        at += value.size();
    }
}

// The KVP GetTile endpoint the capabilities name, else the capabilities' own address.
std::string getTileEndpoint(const CPLXMLNode* capabilities, const std::string& capabilitiesUrl)
{
    for (const CPLXMLNode* op : children(child(capabilities, "OperationsMetadata"), "Operation")) {
        if (attribute(op, "name") != "GetTile") {
            continue;
        }
        for (const CPLXMLNode* dcp : children(op, "DCP")) {
            for (const CPLXMLNode* get : children(child(dcp, "HTTP"), "Get")) {
                const CPLXMLNode* constraint = child(get, "Constraint");
                const std::string encoding = text(child(constraint, "AllowedValues"), "Value");
                if (constraint == nullptr || strcasecmp(encoding.c_str(), "KVP") == 0) {
                    return attribute(get, "href");
                }
            }
        }
    }
    return capabilitiesUrl.substr(0, capabilitiesUrl.find('?'));
}

} // namespace

std::string percentEncoded(const std::string& t)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const char ch : t) {
        const auto c = static_cast<unsigned char>(ch);
        if (std::isalnum(c) != 0 || c == '-' || c == '_' || c == '.' || c == '~' || c == ':') {
            out += ch;
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string serviceTileUrl(const TileService& service, const TileMatrix& matrix, std::int64_t col,
                           std::int64_t row)
{
    std::string url = replacedAll(service.tileUrl, "{TileMatrix}",
                                  service.escapeIds ? percentEncoded(matrix.id) : matrix.id);
    url = replacedAll(url, "{TileRow}", std::to_string(row));
    return replacedAll(url, "{TileCol}", std::to_string(col));
}

bool isWmtsCapabilities(const std::string& xml)
{
    const XmlTree root = parseXml(xml);
    return child(topElement(root, "Capabilities"), "Contents") != nullptr;
}

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
    const auto setId =
        choose(setNames, spec.param("tilematrixset"), "tile matrix set", "tilematrixset");
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
    const auto format =
        choose(formats.empty() ? restFormats : formats, spec.param("format"), "format", "format");
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
    const CPLXMLNode* set = nullptr;
    for (const CPLXMLNode* candidate : children(contents, "TileMatrixSet")) {
        if (text(candidate, "Identifier") == *setId) {
            set = candidate;
        }
    }
    if (set == nullptr) {
        return common::passing(
            "the capabilities link the tile matrix set " + *setId + " but do not describe it", 502);
    }
    const std::string crs = text(set, "SupportedCRS");
    const std::unique_ptr<std::remove_pointer_t<OGRSpatialReferenceH>,
                          decltype(&OSRDestroySpatialReference)>
        srs(OSRNewSpatialReference(nullptr), &OSRDestroySpatialReference);
    if (crs.empty() || OSRSetFromUserInput(srs.get(), crs.c_str()) != OGRERR_NONE) {
        return common::passing("the tile matrix set " + *setId + " is in the CRS \"" + crs +
                                   "\", which GDAL does not know",
                               502);
    }
    // The corner is written in the CRS's own axis order: latitude or northing first for some.
    const bool swapped =
        OSREPSGTreatsAsLatLong(srs.get()) != 0 || OSREPSGTreatsAsNorthingEasting(srs.get()) != 0;
    const double metresPerUnit =
        OSRIsGeographic(srs.get()) != 0 ? metresPerDegree : OSRGetLinearUnits(srs.get(), nullptr);
    TileService service;
    char* wkt = nullptr;
    OSRExportToWkt(srs.get(), &wkt);
    service.grid.crs = wkt != nullptr ? wkt : "";
    CPLFree(wkt);
    for (const CPLXMLNode* tm : children(set, "TileMatrix")) {
        TileMatrix m;
        m.id = text(tm, "Identifier");
        m.resolution = number(text(tm, "ScaleDenominator")) * standardPixelMetres / metresPerUnit;
        auto [a, b] = pair(text(tm, "TopLeftCorner"));
        if (swapped) {
            std::swap(a, b);
        }
        m.left = a;
        m.top = b;
        const auto whole = [](double v) {
            return std::isfinite(v) && v == std::floor(v) && std::abs(v) < 9e15
                       ? static_cast<std::int64_t>(v)
                       : std::int64_t{-1};
        };
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
        service.grid.matrices.push_back(m);
    }
    if (const auto problem = settleGrid(service.grid)) {
        return common::passing("the tile matrix set " + *setId + ": " + *problem, 502);
    }
    if (const CPLXMLNode* box = child(layer, "WGS84BoundingBox")) {
        const auto [west, south] = pair(text(box, "LowerCorner"));
        const auto [east, north] = pair(text(box, "UpperCorner"));
        if (std::isfinite(west) && std::isfinite(south) && std::isfinite(east) &&
            std::isfinite(north) && west < east && south < north) {
            service.grid.bounds =
                common::GeoBox{.west = west, .south = south, .east = east, .north = north};
        }
    }

    // The tiles' URL.
    if (!restTemplate.empty()) {
        std::string url = replacedAll(restTemplate, "{TileMatrixSet}", *setId);
        url = replacedAll(url, "{Style}", *style);
        for (const CPLXMLNode* dimension : children(layer, "Dimension")) {
            url = replacedAll(url, "{" + text(dimension, "Identifier") + "}",
                              text(dimension, "Default"));
        }
        for (const char* needed : {"{TileMatrix}", "{TileRow}", "{TileCol}"}) {
            if (replacedAll(url, needed, "").size() == url.size()) {
                return common::passing("the layer's tile URL template " + url.substr(0, 200) +
                                           " has no " + needed,
                                       502);
            }
        }
        service.tileUrl = url;
    } else {
        std::string url = getTileEndpoint(capabilities, capabilitiesUrl);
        if (url.find('?') == std::string::npos) {
            url += '?';
        } else if (url.back() != '?' && url.back() != '&') {
            url += '&';
        }
        url += "SERVICE=WMTS&REQUEST=GetTile&VERSION=1.0.0&LAYER=" + percentEncoded(*layerId) +
               "&STYLE=" + percentEncoded(*style) + "&FORMAT=" + percentEncoded(*format) +
               "&TILEMATRIXSET=" + percentEncoded(*setId);
        for (const CPLXMLNode* dimension : children(layer, "Dimension")) {
            url += "&" + percentEncoded(text(dimension, "Identifier")) + "=" +
                   percentEncoded(text(dimension, "Default"));
        }
        service.tileUrl = url + "&TILEMATRIX={TileMatrix}&TILEROW={TileRow}&TILECOL={TileCol}";
        service.escapeIds = true;
    }
    return service;
}

} // namespace mapservice
