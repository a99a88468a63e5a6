#include "mapexport/gdalexport.h"

#include "common/atomicfile.h"
#include "common/errortext.h"
#include "common/gdal.h"
#include "common/wholefile.h"

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

} // namespace

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
    const FormatUnit& unit = unitOf(format);
    if (const auto problem = unit.problem != nullptr ? unit.problem(settings) : std::nullopt) {
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
    if (auto written = unit.write(
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
    if (unit.besides != nullptr) {
        return unit.besides(output, settings);
    }
    return {};
}

} // namespace mapexport
