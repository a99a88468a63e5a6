// Reading a tiled map service's JSON description into a tile grid and a tile URL.
#include "common/gdal.h"
#include "mapservice/protocol/outsidecrs.h"
#include "mapservice/protocol/tileservice.h"

#include <cpl_json.h>

#include <cmath>
#include <memory>

namespace mapservice {

namespace {

// The spatial reference of a "spatialReference" object, as "EPSG:n" or WKT; "" when none.
std::string crsOf(const CPLJSONObject& reference)
{
    int wkid = reference.GetInteger("latestWkid", 0);
    if (wkid == 0) {
        wkid = reference.GetInteger("wkid", 0);
    }
    if (wkid == 102100 || wkid == 102113 || wkid == 900913) { // Web Mercator, by older names
        wkid = 3857;
    }
    if (wkid > 0) {
        return "EPSG:" + std::to_string(wkid);
    }
    return reference.GetString("wkt", "");
}

} // namespace

bool isArcgisService(const std::string& text)
{
    const common::gdal::ErrorCapture quiet;
    CPLJSONDocument document;
    if (!document.LoadMemory(text)) {
        return false;
    }
    const CPLJSONObject root = document.GetRoot();
    return root.GetType() == CPLJSONObject::Type::Object && !root.GetObj("error").IsValid();
}

common::Result<TileService> readArcgisService(const std::string& json,
                                              const std::string& serviceUrl)
{
    const common::gdal::ErrorCapture quiet;
    CPLJSONDocument document;
    if (!document.LoadMemory(json)) {
        return common::passing("the service description is no JSON", 502);
    }
    const CPLJSONObject root = document.GetRoot();
    const CPLJSONObject info = root.GetObj("tileInfo");
    if (!info.IsValid()) {
        return common::passing("the service has no tile cache; its WMS, where it has one, is " +
                                   serviceUrl.substr(0, 100) + "/WMSServer",
                               502);
    }
    const auto crs = readOutsideCrs(crsOf(info.GetObj("spatialReference")));
    if (!crs) {
        return common::passing("the service's tiles: " + crs.error().text, 502);
    }
    TileService service;
    service.grid.crs = crs->wkt;

    const double left = info.GetDouble("origin/x", std::nan(""));
    const double top = info.GetDouble("origin/y", std::nan(""));
    const int width = info.GetInteger("cols", 256);
    const int height = info.GetInteger("rows", 256);
    // The tiles there may be: within the full extent where the service gives one, else
    // mirrored about the origin's axes (as Web Mercator's world).
    const CPLJSONObject extent = root.GetObj("fullExtent");
    const bool bounded = extent.IsValid() && std::isfinite(extent.GetDouble("xmin", NAN)) &&
                         std::isfinite(extent.GetDouble("ymax", NAN));
    for (const CPLJSONObject& lod : info.GetArray("lods")) {
        TileMatrix m;
        m.id = std::to_string(lod.GetInteger("level", -1));
        m.resolution = lod.GetDouble("resolution", std::nan(""));
        m.left = left;
        m.top = top;
        m.tileWidth = width;
        m.tileHeight = height;
        const double tileX = m.resolution * width;
        const double tileY = m.resolution * height;
        // Tile counts, an edge that the written numbers miss by a rounding error not counted.
        const auto upTo = [](double v) {
            return std::isfinite(v) && std::abs(v) < 9e15
                       ? static_cast<std::int64_t>(std::ceil(v - 1e-6))
                       : std::int64_t{-1};
        };
        const auto downTo = [](double v) {
            return std::isfinite(v) && std::abs(v) < 9e15
                       ? static_cast<std::int64_t>(std::floor(v + 1e-6))
                       : std::int64_t{-1};
        };
        m.matrixWidth = upTo(2 * std::abs(left) / tileX);
        m.matrixHeight = upTo(2 * std::abs(top) / tileY);
        if (bounded) {
            m.minCol = downTo((extent.GetDouble("xmin", 0) - left) / tileX);
            m.maxCol = upTo((extent.GetDouble("xmax", 0) - left) / tileX) - 1;
            m.minRow = downTo((top - extent.GetDouble("ymax", 0)) / tileY);
            m.maxRow = upTo((top - extent.GetDouble("ymin", 0)) / tileY) - 1;
            m.matrixWidth = std::max(m.matrixWidth, m.maxCol + 1);
            m.matrixHeight = std::max(m.matrixHeight, m.maxRow + 1);
        }
        service.grid.matrices.push_back(m);
    }
    if (const auto problem = settleGrid(service.grid)) {
        return common::passing("the service's tiles: " + *problem, 502);
    }
    service.tileUrl = serviceUrl + "/tile/{TileMatrix}/{TileRow}/{TileCol}";
    return service;
}

} // namespace mapservice
