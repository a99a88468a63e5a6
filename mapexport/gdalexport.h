#pragma once

// Writing a mosaic as one file through GDAL.
#include "mapexport/mosaic.h"

#include <QString>

#include <functional>
#include <optional>

namespace mapexport {

enum class Format {
    GeoTiff, // tiled, compressed, with overviews, in longitude and latitude
    MBTiles, // Web Mercator tiles with overviews, name and bounds in the metadata
};

// The format an output's name asks for: ".tif" or ".tiff", ".mbtiles" (any case).
std::optional<Format> formatOf(const QString& output);

// Writes |mosaic| to |output| in |format|, named |name| where the format keeps a name. The file
// is made under a hidden temporary name beside |output| and takes its place only when whole,
// so an earlier file stays until then, and nothing is left when the export fails. |progress|
// gets the part done, 0 to 1. The reason when it fails.
std::optional<QString> writeExport(const Mosaic& mosaic, Format format, const QString& output,
                                   const QString& name,
                                   const std::function<void(double)>& progress);

} // namespace mapexport
