#include "mapservice/http/documents.h"

#include "common/webmercator.h"
#include "mapservice/protocol/tileask.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace mapservice {

namespace {

constexpr double south = -common::mercator::mercatorLimit;
constexpr double north = common::mercator::mercatorLimit;

std::string number(double value)
{
    char text[40];
    std::snprintf(text, sizeof text, "%.10g", value);
    return text;
}

} // namespace

std::string jsonString(std::string_view text)
{
    std::string out = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20 || c == '<' || c == '>' || c == '&') {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string xmlText(std::string_view text)
{
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
        }
    }
    return out;
}

std::string tileJson(const MapLayer& layer, const std::string& base)
{
    return "{\"tilejson\":\"3.0.0\",\"name\":" + jsonString(layer.code) +
           ",\"description\":" + jsonString(layer.title) +
           ",\"attribution\":" + jsonString(layer.credit) + ",\"scheme\":\"xyz\",\"tiles\":[" +
           jsonString(base + "/tiles/" + layer.code + "/{z}/{x}/{y}.png") +
           "],\"minzoom\":0,\"maxzoom\":" + std::to_string(layer.maxZoom) + ",\"bounds\":[-180," +
           number(south) + ",180," + number(north) + "],\"center\":[0,0,2]}\n";
}

std::string wmtsCapabilities(const std::vector<MapLayer>& layers, const std::string& base)
{
    int finest = 0;
    for (const MapLayer& layer : layers) {
        finest = std::max(finest, layer.maxZoom);
    }
    const std::string address = xmlText(base);
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<Capabilities xmlns=\"http://www.opengis.net/wmts/1.0\" "
        "xmlns:ows=\"http://www.opengis.net/ows/1.1\" xmlns:xlink=\"http://www.w3.org/1999/xlink\" "
        "version=\"1.0.0\">\n"
        "<ows:ServiceIdentification><ows:Title>mapservice</ows:Title>"
        "<ows:ServiceType>OGC WMTS</ows:ServiceType>"
        "<ows:ServiceTypeVersion>1.0.0</ows:ServiceTypeVersion></ows:ServiceIdentification>\n"
        "<ows:OperationsMetadata>\n";
    for (const char* operation : {"GetCapabilities", "GetTile"}) {
        xml += std::string("<ows:Operation name=\"") + operation +
               "\"><ows:DCP><ows:HTTP><ows:Get xlink:href=\"" + address +
               "/wmts?\"><ows:Constraint name=\"GetEncoding\"><ows:AllowedValues>"
               "<ows:Value>KVP</ows:Value></ows:AllowedValues></ows:Constraint></ows:Get>"
               "</ows:HTTP></ows:DCP></ows:Operation>\n";
    }
    xml += "</ows:OperationsMetadata>\n<Contents>\n";
    for (const MapLayer& layer : layers) {
        const std::string code = xmlText(layer.code);
        xml += "<Layer><ows:Title>" + xmlText(layer.title) + "</ows:Title>";
        if (!layer.credit.empty()) {
            xml += "<ows:Abstract>" + xmlText(layer.credit) + "</ows:Abstract>";
        }
        xml += "<ows:WGS84BoundingBox><ows:LowerCorner>-180 " + number(south) +
               "</ows:LowerCorner><ows:UpperCorner>180 " + number(north) +
               "</ows:UpperCorner></ows:WGS84BoundingBox>"
               "<ows:Identifier>" +
               code +
               "</ows:Identifier><Style isDefault=\"true\"><ows:Identifier>default"
               "</ows:Identifier></Style><Format>image/png</Format><Format>image/jpeg</Format>"
               "<TileMatrixSetLink><TileMatrixSet>GoogleMapsCompatible</TileMatrixSet>"
               "<TileMatrixSetLimits>";
        for (int z = 0; z <= layer.maxZoom; ++z) {
            const std::string last = std::to_string((std::int64_t{1} << z) - 1);
            xml += "<TileMatrixLimits><TileMatrix>";
            xml += std::to_string(z);
            xml += "</TileMatrix><MinTileRow>0</MinTileRow><MaxTileRow>";
            xml += last;
            xml += "</MaxTileRow><MinTileCol>0</MinTileCol><MaxTileCol>";
            xml += last;
            xml += "</MaxTileCol></TileMatrixLimits>";
        }
        xml += "</TileMatrixSetLimits></TileMatrixSetLink>";
        for (const TileFormat format : {TileFormat::Png, TileFormat::Jpeg}) {
            xml += "<ResourceURL format=\"";
            xml += contentTypeOf(format);
            xml += "\" resourceType=\"tile\" template=\"";
            xml += address;
            xml += "/tiles/";
            xml += code;
            xml += "/{TileMatrix}/{TileCol}/{TileRow}.";
            xml += endingOf(format);
            xml += "\"/>";
        }
        xml += "</Layer>\n";
    }
    xml += "<TileMatrixSet><ows:Identifier>GoogleMapsCompatible</ows:Identifier>"
           "<ows:SupportedCRS>urn:ogc:def:crs:EPSG::3857</ows:SupportedCRS>"
           "<WellKnownScaleSet>urn:ogc:def:wkss:OGC:1.0:GoogleMapsCompatible</WellKnownScaleSet>\n";
    const double halfWorld = common::mercator::halfWorldMetres;
    for (int z = 0; z <= finest; ++z) {
        // 0.28 mm pixels: the scale of 256 pixels spanning the world's width at zoom 0.
        const double scale = 2 * halfWorld / 256 / 0.00028 / std::ldexp(1.0, z);
        char line[400];
        std::snprintf(line, sizeof line,
                      "<TileMatrix><ows:Identifier>%d</ows:Identifier>"
                      "<ScaleDenominator>%.10f</ScaleDenominator>"
                      "<TopLeftCorner>%.10f %.10f</TopLeftCorner><TileWidth>256</TileWidth>"
                      "<TileHeight>256</TileHeight><MatrixWidth>%lld</MatrixWidth>"
                      "<MatrixHeight>%lld</MatrixHeight></TileMatrix>\n",
                      z, scale, -halfWorld, halfWorld, 1LL << z, 1LL << z);
        xml += line;
    }
    xml += "</TileMatrixSet>\n</Contents>\n</Capabilities>\n";
    return xml;
}

std::string layersJson(const std::vector<MapLayer>& layers)
{
    std::string json = "[";
    for (const MapLayer& layer : layers) {
        json += std::string(json.size() > 1 ? "," : "") + "{\"code\":" + jsonString(layer.code) +
                ",\"title\":" + jsonString(layer.title) +
                ",\"credit\":" + jsonString(layer.credit) +
                ",\"maxzoom\":" + std::to_string(layer.maxZoom) + "}";
    }
    return json + "]\n";
}

} // namespace mapservice
