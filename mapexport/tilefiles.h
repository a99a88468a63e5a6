#pragma once

// The files of Web Mercator tiles that map apps read, each an SQLite database:
// - MBTiles: rows counted from the south, with the metadata that tells an app where to open it
//   and whose map it is;
// - SQLiteDB, as OsmAnd, Locus Map and RMaps read it: tables "tiles" (x, y, z, s, image) and
//   "info", zoom numbered the BigPlanet way (17 - zoom), rows counted from the north;
// - GeoPackage: made by GDAL's driver in the GoogleMapsCompatible tiling (its tables, the tile
//   matrices of every zoom, the extent and the credit), the tiles then put into its table.
#include "common/result.h"
#include "mapexport/format.h"
#include "mapexport/mosaic.h"
#include "mapexport/tilepyramid.h"

#include <QString>

#include <cpl_progress.h>
#include <gdal.h>

namespace mapexport {

// Writes the tiles of |mosaic| (read through its VRT, see mosaicVrt) into a new file |path|
// of |kind| (one of the tile formats), named |name|, every tile in the one format |tiles| asks
// for (Auto chooses it). MBTiles metadata holds the zoom levels it stores, its bounds (across
// 180 degrees every longitude), a centre to open it at, the credit, as HTML, and the tiles'
// format; a GeoPackage keeps the credit as its description and as the metadata item
// "attribution"; SQLiteDB has no place for a credit. The tiles' format, or the first error.
common::Result<TileFormat> writeTileFile(Format kind, const Mosaic& mosaic, const QString& path,
                                         const QString& name, TileFormat tiles,
                                         GDALProgressFunc progress = nullptr,
                                         void* progressData = nullptr);

} // namespace mapexport
