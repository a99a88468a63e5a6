#include "mapexport/gdalexport.h"

#include "common/gdalerrors.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>

#include <cpl_conv.h>
#include <cpl_error.h>
#include <gdal.h>
#include <gdal_utils.h>

#include <algorithm>
#include <cmath>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>
#include <vector>

namespace mapexport {

namespace {

using common::QuietGdalErrors;

QString lastGdalError()
{
    return QString::fromStdString(QuietGdalErrors::last());
}

struct Progress {
    const std::function<void(double)>* report;
    double from;
    double to;
};

int reportProgress(double done, const char*, void* data)
{
    const auto* p = static_cast<Progress*>(data);
    (*p->report)(p->from + (p->to - p->from) * done);
    return TRUE;
}

// GDAL's arguments as the char** its utilities take.
class Arguments {
public:
    explicit Arguments(std::vector<QByteArray> texts) : texts_(std::move(texts))
    {
        for (QByteArray& text : texts_) {
            pointers_.push_back(text.data());
        }
        pointers_.push_back(nullptr);
    }
    char** get() { return pointers_.data(); }

private:
    std::vector<QByteArray> texts_;
    std::vector<char*> pointers_;
};

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

std::optional<QString> writeExport(const Mosaic& mosaic, Format format, const QString& output,
                                   const QString& name, const std::function<void(double)>& progress)
{
    static std::once_flag once;
    std::call_once(once, [] {
        GDALAllRegister();
        // The tiles stay on disk: GDAL keeps a bounded number of them decoded (about 4 MB
        // each) and a bounded cache of blocks, whatever the size of the region.
        CPLSetConfigOption("GDAL_CACHEMAX", "128");
        CPLSetConfigOption("GDAL_MAX_DATASET_POOL_SIZE", "24");
    });
    const QuietGdalErrors quiet;
    const QFileInfo target(output);
    const QString temporary = target.absolutePath() + QStringLiteral("/.") + target.fileName() +
                              QStringLiteral(".~%1.tmp").arg(::getpid());
    removeWithCompanions(temporary);

    const QByteArray vrt = mosaicVrt(mosaic);
    GDALDatasetH source = GDALOpen(vrt.constData(), GA_ReadOnly);
    if (source == nullptr) {
        return QStringLiteral("the tiles cannot be put together: ") + lastGdalError();
    }
    std::vector<QByteArray> options;
    if (format == Format::GeoTiff) {
        options = {"-of", "COG",
                   "-co", "COMPRESS=DEFLATE",
                   "-co", "PREDICTOR=2",
                   "-co", "BIGTIFF=IF_SAFER",
                   "-co", "NUM_THREADS=ALL_CPUS",
                   "-co", "OVERVIEW_RESAMPLING=AVERAGE"};
    } else {
        options = {"-of", "MBTiles",
                   "-co", "NAME=" + name.toUtf8(),
                   "-co", "DESCRIPTION=" + name.toUtf8(),
                   "-co", "TYPE=baselayer",
                   "-co", "TILE_FORMAT=PNG"};
    }
    Arguments arguments(options);
    GDALTranslateOptions* translate = GDALTranslateOptionsNew(arguments.get(), nullptr);
    Progress copying{&progress, 0, format == Format::MBTiles ? 0.7 : 1.0};
    GDALTranslateOptionsSetProgress(translate, reportProgress, &copying);
    int failed = FALSE;
    GDALDatasetH written =
        GDALTranslate(QFile::encodeName(temporary).constData(), source, translate, &failed);
    GDALTranslateOptionsFree(translate);
    std::optional<QString> error;
    if (written == nullptr || failed) {
        error = QStringLiteral("the file cannot be written: ") + lastGdalError();
    } else if (format == Format::MBTiles) {
        // Halving levels down to one 256-pixel tile.
        std::vector<int> levels;
        for (int level = 2;
             std::max(GDALGetRasterXSize(written), GDALGetRasterYSize(written)) / level >= 256;
             level *= 2) {
            levels.push_back(level);
        }
        Progress overviews{&progress, 0.7, 1.0};
        if (!levels.empty() &&
            GDALBuildOverviews(written, "AVERAGE", static_cast<int>(levels.size()), levels.data(),
                               0, nullptr, reportProgress, &overviews) != CE_None) {
            error = QStringLiteral("the overviews cannot be written: ") + lastGdalError();
        }
    }
    if (written != nullptr) {
        CPLErrorReset();
        GDALClose(written); // writes what is still in the cache
        if (CPLGetLastErrorType() >= CE_Failure && !error) {
            error = QStringLiteral("the file cannot be finished: ") + lastGdalError();
        }
    }
    GDALClose(source);
    if (!error && !flushToDisk(temporary)) {
        error = QStringLiteral("the file cannot be flushed to the disk");
    }
    if (!error && ::rename(QFile::encodeName(temporary).constData(),
                           QFile::encodeName(target.absoluteFilePath()).constData()) != 0) {
        error = QStringLiteral("the file cannot take the place of %1").arg(output);
    }
    if (error) {
        removeWithCompanions(temporary);
    }
    return error;
}

} // namespace mapexport
