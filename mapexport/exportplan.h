#pragma once

// What an export takes, as the command line and the export window both see it: the groups of a
// folder's tiles that a choice of zoom and map type picks from, and the mosaic of the chosen tiles
// with what was left out on the way.
#include "common/geobox.h"
#include "common/result.h"
#include "mapexport/format.h"
#include "mapexport/gdalexport.h"
#include "mapexport/mosaic.h"
#include "mapexport/tiles.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace mapexport {

// The tiles of one zoom, one map type and one source in a folder.
struct TileSet {
    Choice choice;        // its zoom, map type and source, all set
    QString credit;       // of its first tile that names one
    bool several = false; // the folder holds other sources of its zoom and map type
    int tiles = 0;
    common::GeoBox bounds; // longitudes as the names give them (past 180 where they go)
    int regions = 1;       // regions that neither touch nor overlap
};

// The sets of |tiles|, the largest first (then by zoom and map type).
std::vector<TileSet> tileSets(const std::vector<Tile>& tiles);

// A line for a set: "zoom 45, map type 1: 12 tiles, 47.50 to 48.50 N, 9.50 to 11.50 E" and,
// when its tiles form more than one region, how many; where the folder holds several sources
// of that zoom and map type, which source ("source 1a2b... (credit)").
QString describe(const TileSet& set);

// A name for the file of |set| in |format|, from the region's middle and zoom:
// "map-48.00N-10.50E-z45.mbtiles".
QString suggestedName(const TileSet& set, Format format);

// The chosen tiles of a scan laid out for |format|: the mosaic (its credit from the tiles),
// how many tiles it holds (none when the tile grid holds none of them), and lines that say what
// was left out or noted on the way. A choice that picks no tiles is refused as chooseTiles
// refuses it.
struct Prepared {
    Mosaic mosaic;
    int tiles = 0;
    QStringList leftOut; // "name: why", tiles map tiles cannot hold
    QStringList groups;  // one line per separate region, when there are several
};
common::Result<Prepared> prepareExport(const Scan& scan, const Choice& choice, Format format);

// What an export wrote, for its summary.
struct ExportReport {
    QString file;
    qint64 bytes = 0;
    int tiles = 0;                        // of the folder, in the file
    int minZoom = -1, maxZoom = -1;       // of the tile formats
    std::optional<TileFormat> tileFormat; // of the same, as written
    bool formatChosen = false;            // Auto chose it
    int images = 0, factor = 1;           // of a KMZ
    QString page;                         // beside a PMTiles archive, when written
    int width = 0, height = 0;            // of the mosaic, in pixels
    QStringList leftOut;                  // "name: why", from the folder and the grid
};

// Writes |prepared| as |format| to |output| as writeExport does, with its settings (their
// callbacks are set here); what was written, or the error.
common::Result<ExportReport> runExport(const Prepared& prepared, Format format,
                                       const QString& output, ExportSettings settings,
                                       GDALProgressFunc progress = nullptr,
                                       void* progressData = nullptr);

// The summary of a report, a line each: file and size, zoom levels or images, tiles written,
// and what was left out with why.
QString summaryText(const ExportReport& report);

} // namespace mapexport
