// Exports the tiles of a tile folder as one georeferenced file: MBTiles, SQLiteDB or GeoPackage
// tiles for phone, tablet and field apps, a KMZ of overlay images for GPS units, a GeoTIFF for
// GIS programs.
#include "common/commandline.h"
#include "common/credit.h"
#include "common/errortext.h"
#include "common/tilefolder.h"
#include "mapexport/exportplan.h"
#include "mapexport/gdalexport.h"
#include "mapexport/kmz.h"
#include "mapexport/mosaic.h"
#include "mapexport/ongrid.h"
#include "mapexport/options.h"
#include "mapexport/regionpage.h"
#include "mapexport/tiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <csignal>
#include <cstdio>
#include <exception>
#include <unistd.h>

namespace {

int refuse(const QString& message, int status)
{
    std::fprintf(stderr, "mapexport: %s\n", qPrintable(common::printable(message)));
    return status;
}

// Names from the folder, one a line, each shown without its control characters.
QByteArray lines(const QStringList& names)
{
    QStringList shown;
    for (const QString& name : names) {
        shown.append(common::printable(name));
    }
    return shown.join(QStringLiteral("\n  ")).toLocal8Bit();
}

int refuse(const common::Error& error)
{
    return refuse(common::errorText(error), error.status != 0 ? error.status : 1);
}

// The signal that asked the export to stop (SIGINT, SIGTERM), or 0. The progress callback turns
// it into a stop, so that the temporaries go before the program ends.
volatile std::sig_atomic_t stopSignal = 0;

extern "C" void askToStop(int signal)
{
    stopSignal = signal;
}

// A bar on the terminal, redrawn when the whole percent changes; nothing when standard error
// is no terminal. Called by GDAL with the part done and the bar.
struct TerminalBar {
    bool terminal = ::isatty(STDERR_FILENO) != 0;
    int shown = -1;
};

int CPL_STDCALL showProgress(double done, const char*, void* data)
{
    if (stopSignal != 0) {
        return FALSE;
    }
    auto& bar = *static_cast<TerminalBar*>(data);
    const int percent = static_cast<int>(done * 100);
    if (percent == bar.shown || !bar.terminal) {
        return TRUE;
    }
    bar.shown = percent;
    constexpr int width = 40;
    const int filled = percent * width / 100;
    std::fprintf(stderr, "\r[%s%s] %3d%%", std::string(filled, '#').c_str(),
                 std::string(width - filled, '.').c_str(), percent);
    if (percent >= 100) {
        std::fputc('\n', stderr);
    }
    std::fflush(stderr);
    return TRUE;
}

int exportTiles(int argc, char** argv)
{
    const QStringList arguments = common::argumentsOf(argc, argv);
    if (const auto answer =
            common::versionOrHelp(arguments, QStringLiteral("mapexport"), mapexport::helpText)) {
        std::fputs(qPrintable(*answer), stdout);
        return 0;
    }
    const auto options = mapexport::parseOptions(arguments);
    if (!options) {
        return refuse(options.error());
    }
    QCoreApplication app(argc, argv);
    std::signal(SIGINT, askToStop);
    std::signal(SIGTERM, askToStop);
    const common::TileFolder folder = options->folder.isEmpty()
                                          ? common::TileFolder::lookUp()
                                          : common::TileFolder(options->folder);
    if (!folder.isFolder()) {
        return refuse(QStringLiteral("there is no tile folder %1 here").arg(folder.path()), 1);
    }
    if (const auto problem = mapexport::outputProblem(options->output)) {
        return refuse(*problem, 1); // before the folder is read
    }
    const mapexport::Scan scan = mapexport::scanFolder(folder);
    if (!scan.foreign.isEmpty()) {
        std::fprintf(stderr, "mapexport: left out, since their names are not tile names:\n  %s\n",
                     lines(scan.foreign).constData());
    }
    if (!scan.leftOut.isEmpty()) {
        std::fprintf(stderr, "mapexport: tiles left out:\n  %s\n", lines(scan.leftOut).constData());
    }
    if (!scan.warnings.isEmpty()) {
        std::fprintf(stderr, "mapexport: world files ignored:\n  %s\n",
                     lines(scan.warnings).constData());
    }
    auto prepared = mapexport::prepareExport(scan, options->choice, options->format);
    if (!prepared) {
        return refuse(prepared.error());
    }
    if (!prepared->leftOut.isEmpty()) {
        std::fprintf(stderr, "mapexport: tiles left out, since map tiles cannot hold them:\n  %s\n",
                     lines(prepared->leftOut).constData());
    }
    if (prepared->tiles == 0) {
        return refuse(QStringLiteral("no tile is left to export"), 1);
    }
    if (!prepared->groups.isEmpty()) {
        std::fprintf(stderr,
                     "mapexport: the tiles form %lld separate groups, exported as one file with "
                     "transparent gaps:\n  %s\n",
                     static_cast<long long>(prepared->groups.size()),
                     prepared->groups.join(QStringLiteral("\n  ")).toLocal8Bit().constData());
    }
    mapexport::Mosaic& mosaic = prepared->mosaic;
    if (!options->attribution.isEmpty()) {
        mosaic.credit =
            QString::fromStdString(common::cleanCredit(options->attribution.toStdString()));
    }
    const QString& output = options->output;
    const QString name = QFileInfo(output).completeBaseName();
    mapexport::ExportSettings settings = options->settings;
    settings.kmzPlanned = [&settings](const mapexport::KmzLayout& layout) {
        if (layout.factor > 1) {
            std::fprintf(stderr,
                         "mapexport: at its own resolution the region needs %lld images, more than "
                         "%d (--max-images); written at 1/%d of it in %zu images\n",
                         static_cast<long long>(layout.ownCount), settings.maxImages, layout.factor,
                         layout.images.size());
        }
    };
    settings.tilesWritten = [&settings](mapexport::TileFormat format) {
        if (settings.tiles == mapexport::TileFormat::Auto) {
            std::fprintf(stderr, "mapexport: tiles stored as %s (%s)\n",
                         format == mapexport::TileFormat::Png ? "PNG" : "JPEG",
                         format == mapexport::TileFormat::Png
                             ? "a drawn map"
                             : "a photograph or shading, white where no tile is");
        }
    };
    TerminalBar bar;
    if (const auto written = mapexport::writeExport(mosaic, options->format, output, name,
                                                    showProgress, &bar, settings);
        !written) {
        if (stopSignal != 0) {
            std::fputs("\nmapexport: stopped; nothing was written\n", stderr);
            return 128 + stopSignal;
        }
        if (written.error().kind == common::ErrorKind::BadInput) {
            return refuse(written.error()); // a limit the region cannot meet
        }
        return refuse(QStringLiteral("%1: %2").arg(output, common::errorText(written.error())), 1);
    }
    std::printf("mapexport: %s: %d tiles, %d x %d pixels\n", qPrintable(common::printable(output)),
                prepared->tiles, mosaic.width, mosaic.height);
    if (options->format == mapexport::Format::PMTiles && settings.page) {
        std::printf("mapexport: %s shows it: open it from a web server that serves its folder, "
                    "or from the disk and pick %s\n",
                    qPrintable(common::printable(mapexport::pagePath(output))),
                    qPrintable(common::printable(QFileInfo(output).fileName())));
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        return exportTiles(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "mapexport: %s\n", e.what());
        return 1;
    }
}
