#include "mapexport/gdalexport.h"

#include "common/atomicfile.h"
#include "common/errortext.h"
#include "common/gdal.h"
#include "common/wholefile.h"
#include "mapexport/kmz.h"
#include "mapexport/regionpage.h"
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
    for (const char* suffix : {"", "-journal", "-wal", "-shm", ".ovr.tmp", ".aux.xml", ".spool"}) {
        QFile::remove(path + QString::fromLatin1(suffix));
    }
}

template <Format kind> common::Status writeTiles(const ExportJob& job)
{
    const auto written = writeTileFile(kind, job.mosaic, job.path, job.name, job.settings.tiles,
                                       job.progress, job.progressData);
    if (!written) {
        return written.error();
    }
    if (job.settings.tilesWritten) {
        job.settings.tilesWritten(*written);
    }
    return {};
}

common::Status writeRegionPage(const QString& output, const ExportSettings& settings)
{
    if (!settings.page) {
        return {};
    }
    const QFileInfo archive(output);
    const auto page = regionPage(archive.fileName(), archive.completeBaseName());
    if (!page) {
        return page.error();
    }
    return common::writeFileAtomically(pagePath(output), *page);
}

common::Status writeKmzFile(const ExportJob& job)
{
    const auto layout = kmzLayout(job.mosaic, job.settings.maxImages);
    if (!layout) {
        return layout.error();
    }
    if (job.settings.kmzPlanned) {
        job.settings.kmzPlanned(*layout);
    }
    return writeKmz(job.mosaic, *layout, job.source, job.path, job.name, job.progress,
                    job.progressData);
}

// A cloud-optimised GeoTIFF: where no tile is, the blocks are left out of the file, so gaps
// cost no disk.
common::Status writeGeoTiff(const ExportJob& job)
{
    CPLStringList arguments;
    for (const char* argument : {"-of", "COG", "-co", "COMPRESS=DEFLATE", "-co", "PREDICTOR=2",
                                 "-co", "SPARSE_OK=TRUE", "-co", "BIGTIFF=IF_SAFER", "-co",
                                 "NUM_THREADS=ALL_CPUS", "-co", "OVERVIEW_RESAMPLING=AVERAGE"}) {
        arguments.AddString(argument);
    }
    auto written = gdal::translate(QFile::encodeName(job.path).toStdString(), job.source, arguments,
                                   job.progress, job.progressData);
    if (!written) {
        return common::permanent("the file cannot be written: " + written.error().text, 1);
    }
    const gdal::ErrorCapture errors;
    written.value().reset(); // writes what is still in the cache
    if (errors.failed()) {
        return errors.error(common::ErrorKind::Permanent, "the file cannot be finished", 1);
    }
    return {};
}

} // namespace

const std::vector<FormatUnit>& formatUnits()
{
    static const std::vector<FormatUnit> units = {
        {Format::MBTiles,
         {QStringLiteral("mbtiles")},
         QStringLiteral("Web Mercator tiles, for map apps"),
         writeTiles<Format::MBTiles>},
        {Format::SQLiteDB,
         {QStringLiteral("sqlitedb")},
         QStringLiteral("the same tiles for OsmAnd, Locus Map and RMaps"),
         writeTiles<Format::SQLiteDB>},
        {Format::GeoPackage,
         {QStringLiteral("gpkg")},
         QStringLiteral("the same tiles as a GeoPackage, for GIS and field apps"),
         writeTiles<Format::GeoPackage>},
        {Format::KMZ,
         {QStringLiteral("kmz")},
         QStringLiteral("overlay images in a KMZ, for Garmin units"),
         writeKmzFile},
        {Format::GeoTiff,
         {QStringLiteral("tif"), QStringLiteral("tiff")},
         QStringLiteral("a tiled, compressed GeoTIFF in longitude and latitude, for GIS\n"
                        "programs"),
         writeGeoTiff},
        {Format::PMTiles,
         {QStringLiteral("pmtiles")},
         QStringLiteral("the same tiles in one file for any web server, and OUTPUT.html\n"
                        "beside it, a page that shows them (see --no-page)"),
         writeTiles<Format::PMTiles>,
         writeRegionPage},
    };
    return units;
}

std::optional<Format> formatOf(const QString& output)
{
    const QString suffix = QFileInfo(output).suffix().toLower();
    for (const FormatUnit& unit : formatUnits()) {
        if (unit.endings.contains(suffix)) {
            return unit.format;
        }
    }
    return std::nullopt;
}

QString suggestedEnding(Format format)
{
    for (const FormatUnit& unit : formatUnits()) {
        if (unit.format == format) {
            return unit.endings.front();
        }
    }
    return {};
}

QString formatHelp()
{
    constexpr int column = 20; // where the use starts, after "  OUTPUT.ending"
    QString text;
    for (const FormatUnit& unit : formatUnits()) {
        QString use = unit.use;
        for (qsizetype i = 1; i < unit.endings.size(); ++i) {
            use += QStringLiteral(" (.%1 too)").arg(unit.endings[i]);
        }
        use.replace(u'\n', u'\n' + QString(column, u' '));
        text += QStringLiteral("  OUTPUT.%1").arg(unit.endings.front()).leftJustified(column) +
                use + u'\n';
    }
    return text;
}

QString formatEndings()
{
    QStringList endings;
    for (const FormatUnit& unit : formatUnits()) {
        for (const QString& ending : unit.endings) {
            endings.append(u'.' + ending);
        }
    }
    const QString last = endings.takeLast();
    return endings.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last;
}

QString pagePath(const QString& output)
{
    return output.left(output.size() - QFileInfo(output).suffix().size()) + QStringLiteral("html");
}

std::optional<QString> outputProblem(const QString& output)
{
    const QFileInfo target(output);
    if (target.isDir()) {
        return common::printable(output) + QStringLiteral(" is a folder; name a file to write");
    }
    if (!QFileInfo(target.absolutePath()).isDir()) {
        return QStringLiteral("the folder %1 does not exist")
            .arg(common::printable(target.absolutePath()));
    }
    return std::nullopt;
}

common::Status writeExport(const Mosaic& mosaic, Format format, const QString& output,
                           const QString& name, GDALProgressFunc progress, void* progressData,
                           const ExportSettings& settings)
{
    if (const auto problem = outputProblem(output)) {
        return common::makeError(common::ErrorKind::Permanent, *problem, 1);
    }
    const auto unit = std::find_if(formatUnits().begin(), formatUnits().end(),
                                   [format](const FormatUnit& u) { return u.format == format; });
    if (const auto problem =
            format == Format::PMTiles && settings.page ? pageProblem() : std::nullopt) {
        return common::makeError(common::ErrorKind::Permanent, *problem, 1);
    }
    // The tiles stay on disk: GDAL keeps a bounded number of them decoded (about 4 MB each)
    // and a bounded cache of blocks. A GeoTIFF is written a strip of rows at a time, shorter
    // than a tile, so a strip runs through the tiles of at most two rows: as many are kept open
    // as the widest two rows hold, since fewer would be decoded again for every strip. MBTiles
    // is cut a small square at a time and needs few.
    // GDAL need not look beside a tile: the export places each itself, and what lies there
    // (a pipe named like a side file) could hold it up for ever.
    // The GeoTIFF's overviews pass through a temporary file; GDAL would compress it with ZSTD,
    // which sets up and clears tens of megabytes for every strip. LZW costs the same time here
    // and needs no such set-up, which matters where memory is fresh for each allocation.
    const int openTiles = std::clamp(2 * widestRow(mosaic) + 4, 24, maxOpenTiles);
    gdal::setUp({{"GDAL_CACHEMAX", "128"},
                 {"GDAL_MAX_DATASET_POOL_SIZE", std::to_string(openTiles)},
                 {"GDAL_DISABLE_READDIR_ON_OPEN", "EMPTY_DIR"},
                 {"COG_TMP_COMPRESSION", "LZW"}});
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
    if (auto written = unit->write(
            {mosaic, gdal::handle(*source), temporary, name, settings, progress, progressData});
        !written) {
        error = written.error();
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
    if (unit->besides != nullptr) {
        return unit->besides(output, settings);
    }
    return {};
}

} // namespace mapexport
