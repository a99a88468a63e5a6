// Exports the tiles of a tile folder as one georeferenced file: MBTiles for phone and tablet
// map apps, GeoTIFF for GIS programs.
#include "common/commandline.h"
#include "common/tilefolder.h"
#include "mapexport/gdalexport.h"
#include "mapexport/mosaic.h"
#include "mapexport/tiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdio>
#include <exception>
#include <unistd.h>

namespace {

const QString usage =
    QStringLiteral("usage: mapexport [--folder DIR] [--zoom Z] [--type 1|2] OUTPUT\n");

const QString help =
    usage +
    QStringLiteral(
        "Writes the tiles of the folder mymaps in the working folder as one file, each tile "
        "placed\n"
        "exactly where the map service drew it: OUTPUT.mbtiles (Web Mercator tiles, for map apps)\n"
        "or OUTPUT.tif (a tiled, compressed GeoTIFF in longitude and latitude, for GIS programs).\n"
        "Where tiles overlap, the one whose centre is nearer wins. An existing OUTPUT is replaced\n"
        "only when the new file is whole.\n"
        "  --folder DIR  the folder that holds the tiles, instead of mymaps\n"
        "  --zoom Z      only the tiles of zoom Z\n"
        "  --type 1|2    only the tiles of map type 1 (letters E and U) or 2 (letter W)\n"
        "  --help        this text\n"
        "  --version     the program's version\n");

int refuse(const QString& message, int status = 2)
{
    std::fprintf(stderr, "mapexport: %s\n", qPrintable(message));
    return status;
}

// A bar on the terminal, redrawn when the whole percent changes; nothing when standard error
// is no terminal.
void showProgress(double done)
{
    static int shown = -1;
    const int percent = static_cast<int>(done * 100);
    if (percent == shown || !::isatty(STDERR_FILENO)) {
        return;
    }
    shown = percent;
    constexpr int width = 40;
    const int filled = percent * width / 100;
    std::fprintf(stderr, "\r[%s%s] %3d%%", std::string(filled, '#').c_str(),
                 std::string(width - filled, '.').c_str(), percent);
    if (percent >= 100) {
        std::fputc('\n', stderr);
    }
    std::fflush(stderr);
}

int exportTiles(int argc, char** argv)
{
    const QStringList arguments = common::argumentsOf(argc, argv);
    if (const auto answer = common::versionOrHelp(arguments, QStringLiteral("mapexport"), help)) {
        std::fputs(qPrintable(*answer), stdout);
        return 0;
    }
    QCoreApplication app(argc, argv);
    QString folderPath;
    QString output;
    mapexport::Choice choice;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        if (argument == u"--folder" && hasValue) {
            folderPath = arguments[++i];
        } else if (argument == u"--zoom" && hasValue) {
            bool ok = false;
            choice.zoom = arguments[++i].toDouble(&ok);
            if (!ok) {
                return refuse(
                    QStringLiteral("--zoom takes a number, not \"%1\"\n").arg(arguments[i]) +
                    usage);
            }
        } else if (argument == u"--type" && hasValue) {
            const QString& type = arguments[++i];
            if (type != u"1" && type != u"2") {
                return refuse(QStringLiteral("--type takes 1 or 2, not \"%1\"\n").arg(type) +
                              usage);
            }
            choice.mapType = type.toInt();
        } else if (!argument.startsWith(u"--") && output.isEmpty()) {
            output = argument;
        } else {
            return refuse(QStringLiteral("unknown or incomplete argument \"%1\"\n").arg(argument) +
                          usage);
        }
    }
    if (output.isEmpty()) {
        return refuse(QStringLiteral("no OUTPUT named\n") + usage);
    }
    const auto format = mapexport::formatOf(output);
    if (!format) {
        return refuse(QStringLiteral("OUTPUT must end in .mbtiles, .tif or .tiff: %1").arg(output));
    }

    const common::TileFolder folder =
        folderPath.isEmpty() ? common::TileFolder::lookUp() : common::TileFolder(folderPath);
    if (!folder.isFolder()) {
        return refuse(QStringLiteral("there is no tile folder %1 here").arg(folder.path()), 1);
    }
    const mapexport::Scan scan = mapexport::scanFolder(folder);
    if (!scan.foreign.isEmpty()) {
        std::fprintf(stderr, "mapexport: left out, since their names are not tile names:\n  %s\n",
                     qPrintable(scan.foreign.join(QStringLiteral("\n  "))));
    }
    const auto chosen = mapexport::chooseTiles(scan.tiles, choice);
    if (const auto* refusal = std::get_if<QString>(&chosen)) {
        return refuse(*refusal);
    }
    const auto& tiles = std::get<std::vector<mapexport::Tile>>(chosen);
    const mapexport::Mosaic mosaic = mapexport::planMosaic(tiles, mapexport::exactCentres(tiles));
    const QString name = QFileInfo(output).completeBaseName();
    if (const auto error = mapexport::writeExport(mosaic, *format, output, name, showProgress)) {
        return refuse(QStringLiteral("%1: %2").arg(output, *error), 1);
    }
    std::printf("mapexport: %s: %zu tiles, %d x %d pixels\n", qPrintable(output), tiles.size(),
                mosaic.width, mosaic.height);
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
