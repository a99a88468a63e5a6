#pragma once

// Writing a mosaic as one file through GDAL.
#include "common/result.h"
#include "mapexport/format.h"
#include "mapexport/kmz.h"
#include "mapexport/mosaic.h"
#include "mapexport/tilepyramid.h"

#include <QString>
#include <QStringList>

#include <cpl_progress.h>

#include <functional>
#include <optional>
#include <vector>

namespace mapexport {

struct ExportSettings {
    TileFormat tiles = TileFormat::Auto; // of MBTiles, SQLiteDB and GeoPackage
    int maxImages = 100;                 // of a KMZ
    bool page = true;                    // the page beside a PMTiles archive
    // Told the overlays of a KMZ before they are written.
    std::function<void(const KmzLayout&)> kmzPlanned;
    // Told the one format of the tiles of MBTiles, SQLiteDB or GeoPackage once they are written.
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

// Each format the exporter writes: the endings of its file names (the first one suggested),
// what it is for, as --help says it, its writer, and what it writes beside the file once the
// file is in place (nullptr: nothing).
struct FormatUnit {
    Format format;
    QStringList endings;
    QString use;
    common::Status (*write)(const ExportJob& job);
    common::Status (*besides)(const QString& output, const ExportSettings& settings) = nullptr;
};
const std::vector<FormatUnit>& formatUnits();

// The format an output's name asks for by its ending (any case).
std::optional<Format> formatOf(const QString& output);

// The ending suggested for a file of |format| ("mbtiles", "tif"): the first of its unit's.
QString suggestedEnding(Format format);

// The lines of --help that name the formats ("  OUTPUT.mbtiles   Web Mercator tiles, ...").
QString formatHelp();
// Every ending, for a message: ".mbtiles, .sqlitedb, .gpkg, .kmz, .tif or .tiff".
QString formatEndings();

// The page written beside the PMTiles archive |output|: NAME.html for NAME.pmtiles.
QString pagePath(const QString& output);

// Why nothing can be written to |output|, found before any work: it is a folder, or the folder
// it would go into is missing; nothing when it may be tried.
std::optional<QString> outputProblem(const QString& output);

// Writes |mosaic| to |output| in |format|, named |name| where the format keeps a name. The file
// is made under a hidden temporary name beside |output| and takes its place only when whole,
// so an earlier file stays until then, and nothing is left when the export fails. |progress|,
// when given, is called as GDAL's tools call it, with the part done from 0 to 1 and
// |progressData|.
common::Status writeExport(const Mosaic& mosaic, Format format, const QString& output,
                           const QString& name, GDALProgressFunc progress = nullptr,
                           void* progressData = nullptr, const ExportSettings& settings = {});

} // namespace mapexport
