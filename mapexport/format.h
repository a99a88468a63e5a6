#pragma once

// The kinds of file the exporter writes, each declared once as a unit (see formatUnits()): the
// endings of its names, what it is for, whether it holds map tiles, how it is written and what
// is written beside it. --help, the export window's destinations, the choice of a format by an
// output's ending and the export itself all read the units.
#include "common/result.h"
#include "mapexport/mosaic.h"
#include "mapexport/tileencoding.h"

#include <QString>
#include <QStringList>

#include <cpl_progress.h>
#include <gdal.h>

#include <functional>
#include <optional>
#include <vector>

namespace mapexport {

enum class Format {
    GeoTiff,    // tiled, compressed, with overviews, in longitude and latitude
    MBTiles,    // Web Mercator tiles, name, bounds and credit in the metadata
    SQLiteDB,   // the same tiles as OsmAnd, Locus Map and RMaps read them
    GeoPackage, // the same tiles in the OGC container GIS and field apps open
    KMZ,        // JPEG ground overlays for Garmin handheld GPS units
    PMTiles,    // the same tiles in one file any web server serves, with a page to show them
};

struct KmzLayout;

struct ExportSettings {
    TileFormat tiles = TileFormat::Auto; // of the tile formats
    int maxImages = 100;                 // of a KMZ
    bool page = true;                    // the page beside a PMTiles archive
    // Told the overlays of a KMZ before they are written.
    std::function<void(const KmzLayout&)> kmzPlanned;
    // Told the one format of the tiles of a tile format once they are written.
    std::function<void(TileFormat)> tilesWritten;
};

// One export as its format's writer sees it: the mosaic, its picture (see mosaicVrt), the file
// to write and the name to give the map there.
struct ExportJob {
    const Mosaic& mosaic;
    GDALDatasetH source;
    QString path;
    QString name;
    const ExportSettings& settings;
    GDALProgressFunc progress;
    void* progressData;
};

struct FormatUnit {
    Format format;
    QStringList endings; // of the file's name, any case; the first one suggested
    QString use;         // what it is for, as --help says it
    QString purpose;     // the destination the export window lists it as
    bool tiles;          // Web Mercator tiles (see tilepyramid.h): MBTiles and its kin
    // Writes the job's file (whole-file handling is the caller's).
    common::Status (*write)(const ExportJob& job);
    // Writes what goes beside the file once it is in place; nullptr: nothing.
    common::Status (*besides)(const QString& output, const ExportSettings& settings) = nullptr;
    // Why the file cannot be written with the settings, found before any work; nullptr: no such
    // reason.
    std::optional<QString> (*problem)(const ExportSettings& settings) = nullptr;
};

// Every format, in the order --help and the export window list them.
const std::vector<FormatUnit>& formatUnits();
const FormatUnit& unitOf(Format format);

// Whether |format| holds map tiles of the Web Mercator grid.
bool isTileFormat(Format format);

// The format an output's name asks for by its ending (any case).
std::optional<Format> formatOf(const QString& output);

// The ending suggested for a file of |format| ("mbtiles", "tif"): the first of its unit's.
QString suggestedEnding(Format format);

// The lines of --help that name the formats ("  OUTPUT.mbtiles   Web Mercator tiles, ...").
QString formatHelp();
// Every ending, for a message: ".mbtiles, .sqlitedb, .kmz, .gpkg, .tif, .tiff or .pmtiles".
QString formatEndings();

} // namespace mapexport
