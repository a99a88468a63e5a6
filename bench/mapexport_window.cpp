// The export window's run against the command line's on the same 16 tiles of 1999 x 1999
// pixels (a 4 x 4 region drawn by the map service), both to MBTiles with the tile format
// chosen automatically: the window's thread, progress and summary cost next to nothing. Then
// what choosing the format once costs: the command line with auto against --tile-format png.
#include "benchutil.h"
#include "exportbench.h"
#include "mapexport/window.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QTemporaryDir work;
    const QString folder = work.path() + QStringLiteral("/mymaps");
    QDir().mkpath(folder);
    if (!bench::drawRegion(argv[0], folder, 4, 4)) {
        return 1;
    }
    const std::string exporter = QFileInfo(QString::fromStdString(bench::exporterBeside(argv[0])))
                                     .absoluteFilePath()
                                     .toStdString();
    QDir::setCurrent(work.path());
    int failures = 0;
    const bench::Rounds rounds = bench::alternate(
        1,
        [&] {
            QFile::remove(QStringLiteral("window.mbtiles"));
            bench::SilentDialogs dialogs;
            mapexport::ExportWindow window(dialogs, [](const QString&) {});
            // The window's loop waits as the program's does, until the folder is read and
            // again until the export has ended.
            QEventLoop loop;
            QObject::connect(&window, &mapexport::ExportWindow::idle, &loop, &QEventLoop::quit);
            window.Form_Load();
            loop.exec();
            window.findChild<QComboBox*>(QStringLiteral("destination"))->setCurrentIndex(0);
            window.findChild<QLineEdit*>(QStringLiteral("output"))
                ->setText(QStringLiteral("window.mbtiles"));
            window.findChild<QPushButton*>(QStringLiteral("export"))->click();
            loop.exec();
            failures += QFile::exists(QStringLiteral("window.mbtiles")) ? 0 : 1;
        },
        [&] {
            failures += bench::run("rm -f line.mbtiles && '" + exporter +
                                   "' line.mbtiles > /dev/null 2>&1");
        });
    std::printf("the window %.1f s, the command line %.1f s; %d failures\n", rounds.value(),
                rounds.baseline(), failures);
    bench::report("mapexport_window_16", rounds, "1.05");
    const double png = bench::secondsOf([&] {
        failures += bench::run("rm -f png.mbtiles && '" + exporter +
                               "' --tile-format png png.mbtiles > /dev/null 2>&1");
    });
    bench::report("mapexport_auto_16", rounds.baseline(), png, "1.05");
    return failures == 0 ? 0 : 1;
}
