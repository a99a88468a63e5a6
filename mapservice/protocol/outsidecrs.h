#pragma once

// Coordinate reference systems as descriptions from upstream name them: read by GDAL as data,
// never as an address to fetch or a file to open.
#include "common/result.h"

#include <string>

namespace mapservice {

// The EPSG code that |text| names in any of the ways descriptions write one ("EPSG:3857", an
// "urn:ogc:def:crs:EPSG:<version>:3857" URN whatever its version field holds, the
// "http://www.opengis.net/def/crs/EPSG/0/3857" URL), Web Mercator's older codes (900913,
// 102100, 102113, 3785) as 3857; 0 for anything else.
int epsgCodeOf(const std::string& text);

struct OutsideCrs {
    std::string wkt;
    bool northingFirst = false; // its own axis order puts latitude or northing first
    bool geographic = false;
    double metresPerUnit = 1; // of a projected CRS's axes
};

// |text| read as a CRS: an EPSG code as above, else whatever GDAL reads without the network
// and without files (WKT, PROJ strings, other URNs). A URL or path, or a text GDAL cannot
// read, is refused in one line naming at most 80 characters of it.
common::Result<OutsideCrs> readOutsideCrs(const std::string& text);

} // namespace mapservice
