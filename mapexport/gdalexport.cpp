#include "mapexport/gdalexport.h"

#include "common/atomicfile.h"
#include "common/errortext.h"
#include "common/gdal.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sqlite3.h>
#include <string>
#include <sys/file.h>
#include <system_error>
#include <unistd.h>
#include <utility>
#include <vector>

namespace mapexport {

namespace {

namespace gdal = common::gdal;

// The file's bytes on the disk before it is renamed into place.
bool flushToDisk(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool ok = ::fdatasync(fd) == 0;
    ::close(fd);
    return ok;
}

void removeWithCompanions(const QString& path)
{
    for (const char* suffix : {"", "-journal", "-wal", "-shm", ".ovr.tmp", ".aux.xml"}) {
        QFile::remove(path + QString::fromLatin1(suffix));
    }
}

// The export's temporary name, created and locked by this process while GDAL writes beside it
// (GDAL may create its files afresh, which would lose a lock held on them), so that no clean-up
// takes the files of a running export; gone with the object.
class ExportLock {
public:
    explicit ExportLock(const QString& target) : path_(common::temporaryPathFor(target))
    {
        fd_ = ::open(QFile::encodeName(path_).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                     0600);
        if (fd_ >= 0) {
            ::flock(fd_, LOCK_EX | LOCK_NB);
        }
    }
    ~ExportLock()
    {
        if (fd_ >= 0) {
            ::unlink(QFile::encodeName(path_).constData());
            ::close(fd_);
        }
    }
    ExportLock(const ExportLock&) = delete;
    ExportLock& operator=(const ExportLock&) = delete;
    bool ok() const { return fd_ >= 0; }
    // Where GDAL writes the export.
    QString output() const { return path_ + QStringLiteral(".out"); }

private:
    QString path_;
    int fd_ = -1;
};

// The metadata GDAL leaves out or gets wrong: the zoom levels the file really holds, the
// centre to open it at, the credit (as HTML, which MBTiles readers show it as).
common::Status completeMbtiles(const QString& path, const Mosaic& mosaic)
{
    sqlite3* db = nullptr;
    const auto fail = [&db](const char* what) {
        const std::string reason = db != nullptr ? sqlite3_errmsg(db) : "no memory";
        sqlite3_close(db);
        return common::permanent(std::string("the metadata cannot be ") + what + ": " + reason, 1);
    };
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE, nullptr) !=
        SQLITE_OK) {
        return fail("written");
    }
    sqlite3_stmt* zooms = nullptr;
    int minZoom = 0;
    int maxZoom = 0;
    if (sqlite3_prepare_v2(db, "SELECT MIN(zoom_level), MAX(zoom_level) FROM tiles", -1, &zooms,
                           nullptr) != SQLITE_OK) {
        return fail("read");
    }
    if (sqlite3_step(zooms) == SQLITE_ROW) {
        minZoom = sqlite3_column_int(zooms, 0);
        maxZoom = sqlite3_column_int(zooms, 1);
    }
    sqlite3_finalize(zooms);
    const common::GeoTransform& t = mosaic.transform;
    const double lon = t[0] + t[1] * mosaic.width / 2;
    const double lat = t[3] + t[5] * mosaic.height / 2;
    const std::vector<std::pair<std::string, std::string>> items{
        {"minzoom", std::to_string(minZoom)},
        {"maxzoom", std::to_string(maxZoom)},
        {"center", QStringLiteral("%1,%2,%3")
                       .arg(lon, 0, 'f', 6)
                       .arg(lat, 0, 'f', 6)
                       .arg((minZoom + maxZoom) / 2)
                       .toStdString()},
        {"attribution", mosaic.credit.toHtmlEscaped().toStdString()},
    };
    sqlite3_stmt* drop = nullptr;
    sqlite3_stmt* add = nullptr;
    bool ok = sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK &&
              sqlite3_prepare_v2(db, "DELETE FROM metadata WHERE name = ?1", -1, &drop, nullptr) ==
                  SQLITE_OK &&
              sqlite3_prepare_v2(db, "INSERT INTO metadata (name, value) VALUES (?1, ?2)", -1, &add,
                                 nullptr) == SQLITE_OK;
    for (const auto& [name, value] : items) {
        if (!ok) {
            break;
        }
        sqlite3_bind_text(drop, 1, name.c_str(), -1, SQLITE_TRANSIENT);
        ok = sqlite3_step(drop) == SQLITE_DONE;
        sqlite3_reset(drop);
        if (ok && !value.empty()) {
            sqlite3_bind_text(add, 1, name.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(add, 2, value.c_str(), -1, SQLITE_TRANSIENT);
            ok = sqlite3_step(add) == SQLITE_DONE;
            sqlite3_reset(add);
        }
    }
    sqlite3_finalize(drop);
    sqlite3_finalize(add);
    if (!ok || sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
        return fail("written");
    }
    sqlite3_close(db);
    return {};
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
    return std::nullopt;
}

namespace {

// The part of the work from |from| to |to| reported through |progress| as a whole.
class ScaledProgress {
public:
    ScaledProgress(double from, double to, GDALProgressFunc progress, void* data)
        : data_(progress != nullptr ? GDALCreateScaledProgress(from, to, progress, data) : nullptr)
    {}
    ~ScaledProgress() { GDALDestroyScaledProgress(data_); }
    ScaledProgress(const ScaledProgress&) = delete;
    ScaledProgress& operator=(const ScaledProgress&) = delete;

    GDALProgressFunc function() const { return data_ != nullptr ? GDALScaledProgress : nullptr; }
    void* data() const { return data_; }

private:
    void* data_;
};

} // namespace

common::Status writeExport(const Mosaic& mosaic, Format format, const QString& output,
                           const QString& name, GDALProgressFunc progress, void* progressData)
{
    // The tiles stay on disk: GDAL keeps a bounded number of them decoded (about 4 MB each)
    // and a bounded cache of blocks, whatever the size of the region.
    // GDAL need not look beside a tile: the export places each itself, and what lies there
    // (a pipe named like a side file) could hold it up for ever.
    gdal::setUp({{"GDAL_CACHEMAX", "128"},
                 {"GDAL_MAX_DATASET_POOL_SIZE", "24"},
                 {"GDAL_DISABLE_READDIR_ON_OPEN", "EMPTY_DIR"}});
    const QFileInfo target(output);
    // Leftovers of exports that were killed go first.
    common::removeStaleTemporaries(target.absolutePath());
    const ExportLock lock(target.absoluteFilePath());
    if (!lock.ok()) {
        return common::makeError(
            common::ErrorKind::Permanent,
            QStringLiteral("no file can be made in %1: %2")
                .arg(target.absolutePath(),
                     QString::fromStdString(
                         std::error_code(errno, std::generic_category()).message())),
            1);
    }
    const QString temporary = lock.output();

    const QByteArray vrt = mosaicVrt(mosaic);
    auto source = gdal::openRaster(vrt.toStdString(), "the mosaic of the tiles");
    if (!source) {
        return common::permanent(source.error().text, 1);
    }
    CPLStringList arguments;
    if (format == Format::GeoTiff) {
        // Where no tile is, the blocks are left out of the file: gaps cost no disk.
        for (const char* argument :
             {"-of", "COG", "-co", "COMPRESS=DEFLATE", "-co", "PREDICTOR=2", "-co",
              "SPARSE_OK=TRUE", "-co", "BIGTIFF=IF_SAFER", "-co", "NUM_THREADS=ALL_CPUS", "-co",
              "OVERVIEW_RESAMPLING=AVERAGE"}) {
            arguments.AddString(argument);
        }
    } else {
        const std::string named = name.toStdString();
        arguments.AddString("-of").AddString("MBTiles");
        arguments.AddString("-co").AddString(("NAME=" + named).c_str());
        arguments.AddString("-co").AddString(("DESCRIPTION=" + named).c_str());
        arguments.AddString("-co").AddString("TYPE=baselayer");
        arguments.AddString("-co").AddString("TILE_FORMAT=PNG");
    }
    const double copyShare = format == Format::MBTiles ? 0.7 : 1.0;
    const ScaledProgress copying(0, copyShare, progress, progressData);
    auto written =
        gdal::translate(QFile::encodeName(temporary).toStdString(), gdal::handle(*source),
                        arguments, copying.function(), copying.data());
    std::optional<common::Error> error;
    if (!written) {
        error = common::permanent("the file cannot be written: " + written.error().text, 1);
    } else if (format == Format::MBTiles) {
        // Halving levels down to one 256-pixel tile.
        GDALDatasetH ds = gdal::handle(*written);
        std::vector<int> levels;
        for (int level = 2; std::max(GDALGetRasterXSize(ds), GDALGetRasterYSize(ds)) / level >= 256;
             level *= 2) {
            levels.push_back(level);
        }
        const ScaledProgress overviews(copyShare, 1.0, progress, progressData);
        const gdal::ErrorCapture errors;
        if (!levels.empty() &&
            GDALBuildOverviews(ds, "AVERAGE", static_cast<int>(levels.size()), levels.data(), 0,
                               nullptr, overviews.function(), overviews.data()) != CE_None) {
            error =
                errors.error(common::ErrorKind::Permanent, "the overviews cannot be written", 1);
        }
    }
    if (written) {
        const gdal::ErrorCapture errors;
        written.value().reset(); // writes what is still in the cache
        if (errors.failed() && !error) {
            error = errors.error(common::ErrorKind::Permanent, "the file cannot be finished", 1);
        }
    }
    source.value().reset();
    if (!error && format == Format::MBTiles) {
        if (auto completed = completeMbtiles(temporary, mosaic); !completed) {
            error = completed.error();
        }
    }
    if (!error && !flushToDisk(temporary)) {
        error = common::permanent("the file cannot be flushed to the disk", 1);
    }
    if (!error && ::rename(QFile::encodeName(temporary).constData(),
                           QFile::encodeName(target.absoluteFilePath()).constData()) != 0) {
        error = common::makeError(
            common::ErrorKind::Permanent,
            QStringLiteral("the file cannot take the place of %1").arg(output), 1);
    }
    if (error) {
        removeWithCompanions(temporary);
        return *error;
    }
    return {};
}

} // namespace mapexport
