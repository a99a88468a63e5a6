// Brontile's whole start-up over 400 map tiles of 1999 x 1999 pixels (a 20 x 20 region drawn
// by the project's own map renderer), offscreen, against decoding the same 400 files with the
// same number of threads and nothing else. Also prints the peak resident memory of the start-up.
#include "benchapp.h"
#include "benchutil.h"
#include "brontile/celldecoder.h"
#include "brontile/form1.h"
#include "common/tilefolder.h"
#include "mapservice/draw/gifencode.h"
#include "mapservice/draw/palette.h"
#include "mapservice/draw/render.h"
#include "pelagrin/region.h"
#include "pelagrin/requesturl.h"
#include "pelagrin/tilename.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QtConcurrent>

#include <sys/resource.h>

namespace {

constexpr int side = 20;

long peakResidentKb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

int main(int argc, char** argv)
{
    const bench::OffscreenRun run(argc, argv);
    QDir().mkdir(QStringLiteral("MyMaps"));

    // The tiles of a region downloaded with zoom 45 over the Alps and the Adriatic, drawn in
    // worker threads so that making them does not raise this process's memory peak.
    const mapservice::ShoreFiles files = mapservice::loadShoreFiles(MAPSERVICE_DATA_DIR);
    const mapservice::ShoreData shores = mapservice::shoreData(files);
    QStringList paths;
    std::vector<pelagrin::MapSettings> centres;
    for (int row = 0; row < side; ++row) {
        for (int column = 0; column < side; ++column) {
            pelagrin::MapSettings s;
            s.mapcode = pelagrin::mapcodeType1;
            s.zoom = 45;
            s.centre.latitude = 40 + row + pelagrin::centreShift;
            s.centre.longitude = 5 + column + pelagrin::centreShift;
            centres.push_back(s);
            paths.append(
                common::TileFolder(QStringLiteral("MyMaps")).pathOf(pelagrin::regionTileName(s)));
        }
    }
    QtConcurrent::blockingMap(centres, [&](const pelagrin::MapSettings& s) {
        const mapservice::MapRequest request{s.centre, s.zoom, 1999, 1999, s.mapcode.toStdString(),
                                             {}};
        const std::string gif = mapservice::encodeGif(mapservice::render(request, shores),
                                                      mapservice::paletteFor(request.mapcode));
        QFile file(
            common::TileFolder(QStringLiteral("MyMaps")).pathOf(pelagrin::regionTileName(s)));
        file.open(QIODevice::WriteOnly);
        file.write(gif.data(), static_cast<qint64>(gif.size()));
    });
    QThreadPool::globalInstance()->waitForDone();

    const long before = peakResidentKb();
    bench::SilentDialogs dialogs;
    brontile::Form1 window(dialogs);
    const double value = bench::secondsOf([&] { window.Form_Load(); });
    const long peak = peakResidentKb();
    const double baseline = bench::secondsOf([&] {
        QThreadPool pool;
        pool.setMaxThreadCount(std::max(1, QThread::idealThreadCount()));
        QtConcurrent::blockingMap(&pool, paths, [](const QString& path) { QImage(path).isNull(); });
    });
    if (window.images().size() != static_cast<std::size_t>(side * side)) {
        std::fprintf(stderr, "the grid has %zu elements\n", window.images().size());
        return 1;
    }
    std::printf("brontile start-up: peak resident memory %.1f MB (%.1f MB before start-up)\n",
                peak / 1024.0, before / 1024.0);
    bench::report("brontile_startup_400", value, baseline, "1.25");
    return peak < 250 * 1024 ? 0 : 1;
}
