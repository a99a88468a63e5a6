// Where a WMTS layer's tiles are asked for: its RESTful template filled in, or KVP GetTile.
#include "mapservice/protocol/wmtsaddress.h"

#include "common/redirect.h"
#include "mapservice/protocol/urltemplate.h"
#include "mapservice/protocol/xmlnodes.h"

#include <cpl_minixml.h>

#include <algorithm>
#include <cctype>
#include <strings.h>

namespace mapservice {

namespace {

// Whether |url| holds the placeholder |name| ("{tilerow}"), written in any case.
bool holds(const std::string& url, const std::string& name)
{
    return std::search(url.begin(), url.end(), name.begin(), name.end(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) == b;
           }) != url.end();
}

// The names of a query's parameters, in lower case ("a=1&B=2": a, b).
std::vector<std::string> queryNames(const std::string& url)
{
    std::vector<std::string> names;
    const std::size_t q = url.find('?');
    for (std::size_t at = q == std::string::npos ? url.size() : q + 1; at < url.size();) {
        const std::size_t end = std::min(url.find('&', at), url.size());
        const std::string part = url.substr(at, end - at);
        if (!part.empty()) {
            std::string name = part.substr(0, part.find('='));
            std::transform(name.begin(), name.end(), name.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            names.push_back(name);
        }
        at = end + 1;
    }
    return names;
}

// The parameters of |capabilitiesUrl|'s query that a GetTile request to |endpoint| does not
// set itself (a key: "apikey=..."), as "&name=value" each.
std::string carriedParameters(const std::string& capabilitiesUrl, const std::string& endpoint,
                              const std::vector<std::string>& setByGetTile)
{
    std::string out;
    const std::vector<std::string> present = queryNames(endpoint);
    const std::size_t q = capabilitiesUrl.find('?');
    for (std::size_t at = q == std::string::npos ? capabilitiesUrl.size() : q + 1;
         at < capabilitiesUrl.size();) {
        const std::size_t end = std::min(capabilitiesUrl.find('&', at), capabilitiesUrl.size());
        const std::string part = capabilitiesUrl.substr(at, end - at);
        at = end + 1;
        const std::vector<std::string> name = queryNames("?" + part);
        if (name.empty() || name.front().empty() ||
            std::find(present.begin(), present.end(), name.front()) != present.end() ||
            std::find(setByGetTile.begin(), setByGetTile.end(), name.front()) !=
                setByGetTile.end()) {
            continue;
        }
        out += "&" + part;
    }
    return out;
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
    const Filling filling{{"tilematrix", service.escapeIds ? percentEncoded(matrix.id) : matrix.id},
                          {"tilerow", std::to_string(row)},
                          {"tilecol", std::to_string(col)}};
    // Bounded when the description was read: no matrix's addresses pass maxUrlBytes.
    return expandTemplate(service.tileUrl, filling, std::string::npos).value_or("");
}

common::Status setTileAddress(TileService& service, const CPLXMLNode* capabilities,
                              const CPLXMLNode* layer, const std::string& capabilitiesUrl,
                              const WmtsChoice& choice, const std::string& hosts)
{
    // The tiles' address: the description's own template filled in (in one pass, within
    // bounds), or a GetTile request.
    Filling dimensions;
    for (const CPLXMLNode* dimension : children(layer, "Dimension")) {
        const std::string id = text(dimension, "Identifier");
        std::string value = text(dimension, "Default");
        if (value.size() > maxDimensionBytes || id.size() > maxDimensionBytes) {
            return common::passing("the layer's dimension " + id.substr(0, 80) +
                                       " has a default of more than 1 KB",
                                   502);
        }
        dimensions.emplace_back(lowerAscii(id), std::move(value));
    }
    const std::string tooLong =
        "the layer's tile addresses are longer than " + std::to_string(maxUrlBytes) + " bytes";
    if (!choice.restTemplate.empty()) {
        Filling filling = dimensions;
        filling.emplace_back("tilematrixset", choice.set);
        filling.emplace_back("style", choice.style);
        const auto url = expandTemplate(choice.restTemplate, filling);
        if (!url) {
            return common::passing(tooLong, 502);
        }
        for (const char* needed : {"{TileMatrix}", "{TileRow}", "{TileCol}"}) {
            if (!holds(*url, lowerAscii(needed))) {
                return common::passing("the layer's tile URL template " + url->substr(0, 200) +
                                           " has no " + needed,
                                       502);
            }
        }
        service.tileUrl = *url;
    } else {
        const std::string endpoint = getTileEndpoint(capabilities, capabilitiesUrl);
        std::string url = endpoint;
        if (url.find('?') == std::string::npos) {
            url += '?';
        } else if (url.back() != '?' && url.back() != '&') {
            url += '&';
        }
        url += "SERVICE=WMTS&REQUEST=GetTile&VERSION=1.0.0&LAYER=" + percentEncoded(choice.layer) +
               "&STYLE=" + percentEncoded(choice.style) +
               "&FORMAT=" + percentEncoded(choice.format) +
               "&TILEMATRIXSET=" + percentEncoded(choice.set);
        std::vector<std::string> setByGetTile{"service", "request", "version",       "layer",
                                              "style",   "format",  "tilematrixset", "tilematrix",
                                              "tilerow", "tilecol"};
        for (const auto& [id, value] : dimensions) {
            url += "&" + percentEncoded(id) + "=" + percentEncoded(value);
            setByGetTile.push_back(id);
        }
        // A key the capabilities were asked with goes with the tiles, on the same host alone.
        if (common::sameOrigin(capabilitiesUrl, endpoint)) {
            url += carriedParameters(capabilitiesUrl, endpoint, setByGetTile);
        }
        service.tileUrl = url + "&TILEMATRIX={TileMatrix}&TILEROW={TileRow}&TILECOL={TileCol}";
        service.escapeIds = true;
    }
    for (const TileMatrix& m : service.grid.matrices) {
        const std::string url = serviceTileUrl(service, m, m.maxCol, m.maxRow);
        if (url.size() > maxUrlBytes) {
            return common::passing(tooLong, 502);
        }
        if (const auto problem = tileAddressProblem(url, capabilitiesUrl, hosts)) {
            return common::passing(*problem, 502);
        }
    }
    return {};
}

} // namespace mapservice
