#pragma once

// Writing a mosaic as one file through GDAL.
#include "common/result.h"
#include "mapexport/mosaic.h"
#include "mapexport/tilepyramid.h"

#include <QString>

#include <cpl_progress.h>

#include <optional>

namespace mapexport {

enum class Format {
    GeoTiff,    // tiled, compressed, with overviews, in longitude and latitude
    MBTiles,    // Web Mercator tiles, name, bounds and credit in the metadata
    SQLiteDB,   // the same tiles as OsmAnd, Locus Map and RMaps read them
    GeoPackage, // the same tiles in the OGC container GIS and field apps open
    KMZ,        // JPEG ground overlays for Garmin handheld GPS units
};

// Whether |format| holds map tiles of the Web Mercator grid (MBTiles, SQLiteDB, GeoPackage).
constexpr bool isTileFormat(Format format)
{
    return format == Format::MBTiles || format == Format::SQLiteDB || format == Format::GeoPackage;
}

struct ExportSettings {
    TileFormat tiles = TileFormat::Auto; // of MBTiles, SQLiteDB and GeoPackage
    int maxImages = 100;                 // of a KMZ
};

// The format an output's name asks for: ".tif" or ".tiff", ".mbtiles", ".sqlitedb", ".gpkg",
// ".kmz" (any case).
std::optional<Format> formatOf(const QString& output);

// Writes |mosaic| to |output| in |format|, named |name| where the format keeps a name. The file
// is made under a hidden temporary name beside |output| and takes its place only when whole,
// so an earlier file stays until then, and nothing is left when the export fails. |progress|,
// when given, is called as GDAL's tools call it, with the part done from 0 to 1 and
// |progressData|.
common::Status writeExport(const Mosaic& mosaic, Format format, const QString& output,
                           const QString& name, GDALProgressFunc progress = nullptr,
                           void* progressData = nullptr, const ExportSettings& settings = {});

} // namespace mapexport
