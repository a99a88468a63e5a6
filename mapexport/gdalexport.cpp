#include "mapexport/gdalexport.h"

#include "common/atomicfile.h"
#include "common/errortext.h"
#include "common/gdal.h"
#include "common/wholefile.h"
#include "mapexport/kmz.h"
#include "mapexport/tilefiles.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace mapexport {

namespace {

namespace gdal = common::gdal;

// At most this many tiles are open and decoded at once (about 1 GB).
constexpr int maxOpenTiles = 256;

void removeWithCompanions(const QString& path)
{
    for (const char* suffix : {"", "-journal", "-wal", "-shm", ".ovr.tmp", ".aux.xml"}) {
        QFile::remove(path + QString::fromLatin1(suffix));
    }
}

} // namespace

std::optional<Format> formatOf(const QString& output)
{
    const QString suffix = QFileInfo(output).suffix().toLower();
    if (suffix == u"tif" || suffix == u"tiff") {
        return Format::GeoTiff;
    }
    if (suffix == u"mbtiles") {
        return Format::MBTiles;
    }
    if (suffix == u"sqlitedb") {
        return Format::SQLiteDB;
    }
    if (suffix == u"gpkg") {
        return Format::GeoPackage;
    }
    if (suffix == u"kmz") {
        return Format::KMZ;
    }
    return std::nullopt;
}

common::Status writeExport(const Mosaic& mosaic, Format format, const QString& output,
                           const QString& name, GDALProgressFunc progress, void* progressData,
                           const ExportSettings& settings)
{
    // The tiles stay on disk: GDAL keeps a bounded number of them decoded (about 4 MB each)
    // and a bounded cache of blocks. A GeoTIFF is written a strip of rows at a time, so as many
    // tiles are kept open as the widest row runs through: fewer would be decoded again for
    // every strip. MBTiles is cut a small square at a time and needs few.
    // GDAL need not look beside a tile: the export places each itself, and what lies there
    // (a pipe named like a side file) could hold it up for ever.
    const int openTiles = std::clamp(widestRow(mosaic) + 4, 24, maxOpenTiles);
    gdal::setUp({{"GDAL_CACHEMAX", "128"},
                 {"GDAL_MAX_DATASET_POOL_SIZE", std::to_string(openTiles)},
                 {"GDAL_DISABLE_READDIR_ON_OPEN", "EMPTY_DIR"}});
    const QFileInfo target(output);
    // Leftovers of exports that were killed go first.
    common::removeStaleTemporaries(target.absolutePath());
    // The lock is held on the temporary's own name while GDAL writes beside it (GDAL may create
    // its files afresh, which would lose a lock held on them), so that no clean-up takes the
    // files of a running export.
    common::WholeFile file(QFile::encodeName(target.absoluteFilePath()).toStdString());
    file.open();
    if (!file.ok()) {
        return common::makeError(
            common::ErrorKind::Permanent,
            QStringLiteral("no file can be made in %1: %2")
                .arg(target.absolutePath(), QString::fromStdString(file.error()->text)),
            1);
    }
    const QString temporary = QFile::decodeName(QByteArray::fromStdString(file.companion(".out")));

    const QByteArray vrt = mosaicVrt(mosaic);
    auto source = gdal::openRaster(vrt.toStdString(), "the mosaic of the tiles");
    if (!source) {
        return common::permanent(source.error().text, 1);
    }
    std::optional<common::Error> error;
    if (format == Format::KMZ) {
        if (auto written = writeKmz(mosaic, kmzLayout(mosaic, settings.maxImages),
                                    gdal::handle(*source), temporary, name, progress, progressData);
            !written) {
            error = written.error();
        }
    } else if (format != Format::GeoTiff) {
        const TileFile kind = format == Format::MBTiles    ? TileFile::MBTiles
                              : format == Format::SQLiteDB ? TileFile::SQLiteDB
                                                           : TileFile::GeoPackage;
        if (auto written = writeTileFile(kind, mosaic, gdal::handle(*source), temporary, name,
                                         settings.tiles, progress, progressData);
            !written) {
            error = written.error();
        }
    } else {
        // Where no tile is, the blocks are left out of the file: gaps cost no disk.
        CPLStringList arguments;
        for (const char* argument :
             {"-of", "COG", "-co", "COMPRESS=DEFLATE", "-co", "PREDICTOR=2", "-co",
              "SPARSE_OK=TRUE", "-co", "BIGTIFF=IF_SAFER", "-co", "NUM_THREADS=ALL_CPUS", "-co",
              "OVERVIEW_RESAMPLING=AVERAGE"}) {
            arguments.AddString(argument);
        }
        auto written = gdal::translate(QFile::encodeName(temporary).toStdString(),
                                       gdal::handle(*source), arguments, progress, progressData);
        if (!written) {
            error = common::permanent("the file cannot be written: " + written.error().text, 1);
        } else {
            const gdal::ErrorCapture errors;
            written.value().reset(); // writes what is still in the cache
            if (errors.failed()) {
                error =
                    errors.error(common::ErrorKind::Permanent, "the file cannot be finished", 1);
            }
        }
    }
    source.value().reset();
    if (!error) {
        if (auto committed = file.commitFrom(QFile::encodeName(temporary).toStdString());
            !committed) {
            error =
                common::makeError(common::ErrorKind::Permanent,
                                  QStringLiteral("the file cannot take the place of %1: %2")
                                      .arg(output, QString::fromStdString(committed.error().text)),
                                  1);
        }
    }
    if (error) {
        removeWithCompanions(temporary);
        return *error;
    }
    return {};
}

} // namespace mapexport
