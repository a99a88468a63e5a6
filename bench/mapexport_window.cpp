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
    const auto window = [&] {
        QFile::remove(QStringLiteral("window.mbtiles"));
        bench::SilentDialogs dialogs;
        mapexport::ExportWindow exportWindow(dialogs, [](const QString&) {});
        // The window's loop waits as the program's does, until the folder is read and again
        // until the export has ended.
        QEventLoop loop;
        QObject::connect(&exportWindow, &mapexport::ExportWindow::idle, &loop, &QEventLoop::quit);
        exportWindow.Form_Load();
        loop.exec();
        exportWindow.findChild<QComboBox*>(QStringLiteral("destination"))->setCurrentIndex(0);
        exportWindow.findChild<QLineEdit*>(QStringLiteral("output"))
            ->setText(QStringLiteral("window.mbtiles"));
        exportWindow.findChild<QPushButton*>(QStringLiteral("export"))->click();
        loop.exec();
        failures += QFile::exists(QStringLiteral("window.mbtiles")) ? 0 : 1;
    };
    const auto line = [&](const std::string& options) {
        return [&failures, &exporter, options] {
            failures += bench::run("rm -f line.mbtiles && '" + exporter + "' " + options +
                                   " line.mbtiles > /dev/null 2>&1");
        };
    };
    // Five rounds, each of the window, the command line with auto and with png in turn: a
    // single export's time varies by a tenth from one run to the next. The command line's
    // auto export is the baseline of the window and the value of the format's choice.
    constexpr int rounds = 5;
    bench::Rounds windowRounds;
    bench::Rounds autoRounds;
    for (int round = 0; round < rounds; ++round) {
        const double windowSeconds = bench::secondsOf(window);
        const double autoSeconds = bench::secondsOf(line(""));
        windowRounds.add(windowSeconds, autoSeconds);
        autoRounds.add(autoSeconds, bench::secondsOf(line("--tile-format png")));
    }
    std::printf("the window %.1f s, the command line %.1f s; %d failures\n", windowRounds.value(),
                windowRounds.baseline(), failures);
    bench::report("mapexport_window_16", windowRounds, "1.05");
    bench::report("mapexport_auto_16", autoRounds, "1.05");
    return failures == 0 ? 0 : 1;
}
