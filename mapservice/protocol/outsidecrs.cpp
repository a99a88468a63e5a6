#include "mapservice/protocol/outsidecrs.h"

#include "common/gdal.h"
#include "common/printable.h"

#include <ogr_spatialref.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <strings.h>

namespace mapservice {

namespace {

bool startsWith(const std::string& text, const char* prefix)
{
    return strncasecmp(text.c_str(), prefix, std::strlen(prefix)) == 0;
}

// The digits after the last ':' or '/' of |text|, as a number; 0 when there are none.
int lastNumber(const std::string& text)
{
    const std::size_t cut = text.find_last_of(":/");
    const std::string digits = cut == std::string::npos ? text : text.substr(cut + 1);
    if (digits.empty() || digits.size() > 9 ||
        !std::all_of(digits.begin(), digits.end(),
                     [](unsigned char c) { return std::isdigit(c) != 0; })) {
        return 0;
    }
    return std::stoi(digits);
}

} // namespace

int epsgCodeOf(const std::string& written)
{
    std::string text = written;
    text.erase(0, text.find_first_not_of(" \t\r\n"));
    text.erase(text.find_last_not_of(" \t\r\n") + 1);
    // In a URN the version field before the code may hold colons: "6.18:3".
    const bool epsg = (startsWith(text, "EPSG:") && text.find(':', 5) == std::string::npos) ||
                      startsWith(text, "urn:ogc:def:crs:EPSG:") ||
                      startsWith(text, "urn:x-ogc:def:crs:EPSG:") ||
                      startsWith(text, "http://www.opengis.net/def/crs/EPSG/") ||
                      startsWith(text, "https://www.opengis.net/def/crs/EPSG/") ||
                      startsWith(text, "http://opengis.net/def/crs/EPSG/");
    int code = epsg ? lastNumber(text) : 0;
    if (code == 900913 || code == 102100 || code == 102113 || code == 3785) {
        code = 3857;
    }
    return code;
}

common::Result<OutsideCrs> readOutsideCrs(const std::string& text)
{
    const std::string shown = common::printable(text.substr(0, 80));
    const int code = epsgCodeOf(text);
    std::string definition = code > 0 ? "EPSG:" + std::to_string(code) : text;
    const bool address = definition.find("://") != std::string::npos &&
                         definition.find_first_of("[(") > definition.find("://");
    if (code == 0 && (address || startsWith(definition, "/") || startsWith(definition, ".") ||
                      startsWith(definition, "file:") || startsWith(definition, "/vsi"))) {
        return common::passing("the CRS \"" + shown +
                                   "\" is an address or a file, which the service does not read",
                               502);
    }
    const common::gdal::ErrorCapture quiet;
    OGRSpatialReference srs;
    if (definition.empty() ||
        srs.SetFromUserInput(definition.c_str(),
                             OGRSpatialReference::SET_FROM_USER_INPUT_LIMITATIONS_get()) !=
            OGRERR_NONE) {
        return common::passing("the CRS \"" + shown + "\" is one GDAL does not know", 502);
    }
    OutsideCrs crs;
    char* wkt = nullptr;
    srs.exportToWkt(&wkt);
    crs.wkt = wkt != nullptr ? wkt : "";
    CPLFree(wkt);
    crs.northingFirst = srs.EPSGTreatsAsLatLong() || srs.EPSGTreatsAsNorthingEasting();
    crs.geographic = srs.IsGeographic();
    crs.metresPerUnit = crs.geographic ? 1 : srs.GetLinearUnits(nullptr);
    return crs;
}

} // namespace mapservice
