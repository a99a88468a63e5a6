// The export window driven headless: the tile sets it finds, the file names its destinations
// give, an export with its progress and summary while the window keeps answering, and Cancel.
#include "gifmaker.h"
#include "mapexport/window.h"
#include "recordingdialogs.h"
#include "tempworkdir.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace {

using testsupport::TempWorkDir;

// Runs the window's loop until |done| holds, for a minute at most.
bool runUntil(const std::function<bool()>& done)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < 60'000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return done();
}

// A window on the working folder's mymaps, read.
struct OpenWindow {
    testsupport::RecordingDialogs dialogs;
    QStringList opened;
    mapexport::ExportWindow window{dialogs, [this](const QString& f) { opened.append(f); }};

    OpenWindow()
    {
        window.Form_Load();
        runUntil([this] { return !window.busy(); });
    }
    template <typename T> T* get(const char* name) { return window.findChild<T*>(name); }
};

const QStringList region2x2 = {"IDA_E_B48!50L10!00Z45.gif", "IDA_E_B48!50L11!00Z45.gif",
                               "IDA_E_B47!50L10!00Z45.gif", "IDA_E_B47!50L11!00Z45.gif"};

// Reading a folder can be stopped: Cancel ends it, and the list says so.
TEST(ExportWindow, ReadingTheFolderStopsOnCancel)
{
    TempWorkDir work;
    TempWorkDir::writeTiles(TempWorkDir::tileRow(200), testsupport::makeGif(200, 200));
    testsupport::RecordingDialogs dialogs;
    mapexport::ExportWindow window{dialogs, [](const QString&) {}};
    window.Form_Load(); // starts reading
    auto* cancel = window.findChild<QPushButton*>("cancel");
    ASSERT_TRUE(cancel->isEnabled());
    cancel->click();
    ASSERT_TRUE(runUntil([&] { return !window.busy(); }));
    const auto* list = window.findChild<QListWidget*>("sets");
    ASSERT_EQ(list->count(), 1);
    EXPECT_TRUE(list->item(0)->text().contains(u"was stopped"))
        << list->item(0)->text().toStdString();
    EXPECT_FALSE(cancel->isEnabled());
    EXPECT_FALSE(window.findChild<QPushButton*>("export")->isEnabled());
}

TEST(ExportWindow, ChoosesTheLargestSetAndEachDestinationGivesItsEnding)
{
    TempWorkDir work;
    TempWorkDir::writeTiles(region2x2.mid(0, 3), testsupport::makeFlatGif(1999, 1999));
    TempWorkDir::writeTiles({"IDA_W_B40!00L20!00Z90.gif"}, testsupport::makeFlatGif(1999, 1999));
    OpenWindow w;
    auto* sets = w.get<QListWidget>("sets");
    ASSERT_EQ(sets->count(), 2);
    EXPECT_EQ(sets->currentRow(), 0);
    EXPECT_TRUE(sets->item(0)->text().startsWith(u"zoom 45, map type 1: 3 tiles"))
        << sets->item(0)->text().toStdString();
    EXPECT_TRUE(sets->item(1)->text().startsWith(u"zoom 90, map type 2: 1 tiles"));
    const char* endings[] = {".mbtiles", ".sqlitedb", ".kmz", ".gpkg", ".tif", ".pmtiles"};
    auto* destination = w.get<QComboBox>("destination");
    ASSERT_EQ(destination->count(), static_cast<int>(std::size(endings)));
    for (int i = 0; i < destination->count(); ++i) {
        destination->setCurrentIndex(i);
        const QString output = w.get<QLineEdit>("output")->text();
        EXPECT_TRUE(output.endsWith(QString::fromLatin1(endings[i])))
            << destination->itemText(i).toStdString() << ": " << output.toStdString();
        EXPECT_TRUE(output.startsWith(u"map-48.00N-10.50E-z45.")) << output.toStdString();
    }
    EXPECT_EQ(destination->itemText(2), QStringLiteral("Garmin units"));
    EXPECT_EQ(destination->itemText(5), QStringLiteral("A web page (PMTiles)"));
}

TEST(ExportWindow, AFolderWithoutTilesSaysSo)
{
    TempWorkDir work;
    OpenWindow w;
    auto* sets = w.get<QListWidget>("sets");
    ASSERT_EQ(sets->count(), 1);
    EXPECT_TRUE(sets->item(0)->text().startsWith(u"No tiles in"))
        << sets->item(0)->text().toStdString();
    EXPECT_FALSE(w.get<QPushButton>("export")->isEnabled());
}

TEST(ExportWindow, ExportsWhileTheWindowAnswersAndSumsUpWhatWasLeftOut)
{
    TempWorkDir work;
    TempWorkDir::writeTiles(region2x2, testsupport::makeGif(1999, 1999));
    TempWorkDir::write(QStringLiteral("mymaps/IDA_E_B46!50L10!00Z45.gif"),
                       testsupport::makeGif(1999, 1999).left(3000)); // cut short
    OpenWindow w;
    w.get<QComboBox>("destination")->setCurrentIndex(4); // GIS programs: a GeoTIFF
    const QString output = w.get<QLineEdit>("output")->text();
    // A timer of 20 ms: how long the window's loop leaves it waiting at most.
    QElapsedTimer sinceTick;
    qint64 longest = 0;
    QTimer tick;
    tick.setInterval(20);
    QObject::connect(&tick, &QTimer::timeout,
                     [&] { longest = std::max(longest, sinceTick.restart()); });
    sinceTick.start();
    tick.start();
    w.get<QPushButton>("export")->click();
    ASSERT_TRUE(w.window.busy());
    int progressSeen = 0;
    ASSERT_TRUE(runUntil([&] {
        progressSeen = std::max(progressSeen, w.get<QProgressBar>("progress")->value());
        return !w.window.busy();
    }));
    tick.stop();
    // Half a second, which an export on the window's thread (seconds) exceeds many times, and
    // a window on cores that other programs keep busy stays under.
    constexpr qint64 mostWait = 500;
    EXPECT_LE(longest, mostWait) << "the export runs off the window's thread";
    EXPECT_GT(progressSeen, 0);
    EXPECT_TRUE(QFileInfo::exists(output));
    const QString summary = w.get<QLabel>("summary")->text();
    EXPECT_TRUE(summary.contains(u"4 tiles written")) << summary.toStdString();
    EXPECT_TRUE(summary.contains(u"Left out:\n  IDA_E_B46!50L10!00Z45.gif: "))
        << summary.toStdString();
    auto* open = w.get<QPushButton>("open");
    ASSERT_TRUE(open->isEnabled());
    open->click();
    EXPECT_EQ(w.opened, QStringList{QDir::current().absolutePath()});
    EXPECT_TRUE(w.dialogs.messages.isEmpty());
}

TEST(ExportWindow, CancelKeepsTheEarlierFileAndLeavesNoTemporary)
{
    TempWorkDir work;
    TempWorkDir::writeTiles(region2x2, testsupport::makeGif(1999, 1999));
    OpenWindow w;
    w.get<QComboBox>("destination")->setCurrentIndex(4);
    const QString output = w.get<QLineEdit>("output")->text();
    TempWorkDir::write(output, "the earlier export");
    w.get<QPushButton>("export")->click();
    // Cancel once the export has begun to report.
    ASSERT_TRUE(
        runUntil([&] { return w.get<QProgressBar>("progress")->value() > 0 || !w.window.busy(); }));
    w.get<QPushButton>("cancel")->click();
    ASSERT_TRUE(runUntil([&] { return !w.window.busy(); }));
    EXPECT_EQ(w.get<QLabel>("summary")->text(), QStringLiteral("Stopped; nothing was written."));
    EXPECT_EQ(TempWorkDir::read(output), "the earlier export");
    EXPECT_EQ(QDir().entryList(QDir::Files | QDir::Hidden), QStringList{output});
}

TEST(ExportWindow, AFileNameThatDoesNotFitTheDestinationIsRefused)
{
    TempWorkDir work;
    TempWorkDir::writeTiles(region2x2.mid(0, 1), testsupport::makeFlatGif(1999, 1999));
    OpenWindow w;
    w.get<QLineEdit>("output")->setText(QStringLiteral("region.tif")); // destination: map apps
    w.get<QPushButton>("export")->click();
    EXPECT_FALSE(w.window.busy());
    EXPECT_EQ(w.dialogs.messages,
              QStringList{QStringLiteral("The file name must end in .mbtiles for Map apps.")});
}

} // namespace
