#pragma once

// The files of Web Mercator tiles that map apps read, each an SQLite database:
// - MBTiles: rows counted from the south, with the metadata that tells an app where to open it
//   and whose map it is (the zoom levels it stores, its bounds (across 180 degrees every
//   longitude), a centre to open it at, the credit, as HTML, and the tiles' format);
// - SQLiteDB, as OsmAnd, Locus Map and RMaps read it: tables "tiles" (x, y, z, s, image) and
//   "info", zoom numbered the BigPlanet way (17 - zoom), rows counted from the north; it has no
//   place for a credit;
// - GeoPackage: made by GDAL's driver in the GoogleMapsCompatible tiling (its tables, the tile
//   matrices of every zoom, the extent and the credit, as its description and as the metadata
//   item "attribution"), the tiles then put into its table.
// Every tile of a file is in the one format the settings ask for (Auto chooses it).
#include "common/result.h"
#include "mapexport/format.h"
#include "mapexport/tilepyramid.h"

namespace mapexport {

common::Status writeMbtiles(const ExportJob& job);
common::Status writeSqlitedb(const ExportJob& job);
common::Status writeGeoPackage(const ExportJob& job);

// What every tile format's writer does: cuts the job's mosaic into the tiles of |plan| for
// |file| (a TileSink whose error() tells why it could not be made), then |finish| completes the
// file given the tiles' format, which the job's settings are told of. The first error.
template <typename File, typename Finish>
common::Status writeTileSink(const ExportJob& job, const PyramidPlan& plan, File& file,
                             Finish&& finish)
{
    if (file.error()) {
        return *file.error();
    }
    const auto given =
        writePyramid(job.mosaic, plan, file, job.settings.tiles, job.progress, job.progressData);
    if (!given) {
        return given.error();
    }
    if (given->tiles == 0) {
        return common::permanent("no map tile holds any part of the region", 1);
    }
    if (auto finished = finish(given->format); !finished) {
        return finished.error();
    }
    if (job.settings.tilesWritten) {
        job.settings.tilesWritten(given->format);
    }
    return {};
}

} // namespace mapexport
