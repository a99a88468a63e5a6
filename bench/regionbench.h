#pragma once

#include "benchutil.h"
#include "pelagrin/form1.h"
#include "pelagrin/region.h"
#include "pelagrin/requesturl.h"
#include "pelagrin/tilename.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QUrl>

namespace bench {

// A region of 10 rows (50 to 59 north) of 20 tiles (0 to 19 east), one degree apart, fetched
// through the real "Start download" of a downloader window in the working directory, and the
// same 200 URLs fetched by curl one after the other over one connection.
class RegionBench {
public:
    static constexpr int tiles = 200;

    explicit RegionBench(const QString& address) : window_(address, dialogs_)
    {
        window_.Form_Load();
        waitIdle();
        window_.show();
        type("Text5", "45");
        type("Text1", "59");
        type("Text2", "0");
        window_.Command2_Click();
        type("Text1", "50");
        type("Text2", "19");
        window_.Command3_Click();
        writeCurlConfig(address);
    }

    // One run of the window with |connections| tiles at once into an emptied folder; seconds.
    double windowRound(int connections)
    {
        empty(QStringLiteral("MyMaps"));
        window_.setConnections(connections);
        window_.Command3_Click(); // "Start download" is enabled again by the end corner
        const double seconds = secondsOf([&] {
            window_.Command4_Click();
            waitIdle();
        });
        windowTiles_ = count(QStringLiteral("MyMaps"));
        return seconds;
    }

    // "Refresh older" of every tile in place, each made older than the refresh age first; the
    // service's answers are 304 when nothing changed. Seconds.
    double refreshRound()
    {
        const QDateTime old = QDateTime::currentDateTimeUtc().addDays(-40);
        for (const QFileInfo& tile :
             QDir(QStringLiteral("MyMaps")).entryInfoList({"*.gif"}, QDir::Files)) {
            QFile gif(tile.filePath());
            gif.open(QIODevice::ReadWrite);
            gif.setFileTime(old, QFileDevice::FileModificationTime);
        }
        window_.Command3_Click();
        dialogs_.further = common::Dialogs::Answer::Other;
        const double seconds = secondsOf([&] {
            window_.Command4_Click();
            waitIdle();
        });
        dialogs_.further.reset();
        refreshed_ = 0;
        for (const QFileInfo& tile :
             QDir(QStringLiteral("MyMaps")).entryInfoList({"*.gif"}, QDir::Files)) {
            refreshed_ += tile.lastModified() > old.addDays(1) ? 1 : 0;
        }
        return seconds;
    }
    int refreshed() const { return refreshed_; }
    int windowTiles() const { return windowTiles_; }

    // One run of curl into an emptied folder, then, when |sync|, one sync of everything written
    // (the guarantee the window gives for each tile, given for the whole run); seconds.
    double curlRound(bool sync = false)
    {
        empty(QStringLiteral("curl"));
        const double seconds = secondsOf([&] {
            curlStatus_ = QProcess::execute(
                QStringLiteral("curl"),
                {QStringLiteral("-s"), QStringLiteral("-K"), QStringLiteral("curl.conf")});
            if (sync) {
                QProcess::execute(QStringLiteral("sync"), {});
            }
        });
        curlTiles_ = count(QStringLiteral("curl"));
        return seconds;
    }

    // |rounds| rounds, each |repeats| runs of the window with one connection, then as many of
    // curl (each followed by a sync when |sync|), every run into emptied folders.
    Rounds alternate(int rounds, int repeats, bool sync = false)
    {
        Rounds result;
        for (int round = 0; round < rounds; ++round) {
            double window = 0;
            double curl = 0;
            for (int i = 0; i < repeats; ++i) {
                window += windowRound(1);
            }
            for (int i = 0; i < repeats; ++i) {
                curl += curlRound(sync);
            }
            result.add(window, curl);
        }
        return result;
    }

    // Whether the last rounds of both made every tile; says what is missing when not.
    bool complete() const
    {
        if (windowTiles_ == tiles && curlTiles_ == tiles && curlStatus_ == 0) {
            return true;
        }
        std::fprintf(stderr, "incomplete: %d tiles by the window, %d by curl (status %d)\n",
                     windowTiles_, curlTiles_, curlStatus_);
        return false;
    }

private:
    // Until the start-up preview or the region run has ended; a run that takes over five
    // minutes ends the benchmark.
    void waitIdle()
    {
        QElapsedTimer clock;
        clock.start();
        while (window_.activity() != pelagrin::Activity::Idle || window_.checkingSources()) {
            if (clock.elapsed() > 300'000) {
                std::fputs("the window did not finish within five minutes\n", stderr);
                std::exit(1);
            }
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
    }

    void type(const char* box, const char* text)
    {
        window_.findChild<QLineEdit*>(QString::fromLatin1(box))->setText(QString::fromLatin1(text));
    }

    void writeCurlConfig(const QString& address)
    {
        QFile config(QStringLiteral("curl.conf"));
        config.open(QIODevice::WriteOnly);
        QDir().mkdir(QStringLiteral("curl"));
        pelagrin::MapSettings s = window_.settings();
        for (int lat = 50; lat <= 59; ++lat) {
            for (int lon = 0; lon <= 19; ++lon) {
                s.centre.latitude = lat + pelagrin::centreShift;
                s.centre.longitude = lon + pelagrin::centreShift;
                s.mapcode = pelagrin::mapcodeType1;
                const QString url = pelagrin::generateurl(s, pelagrin::modeLarge, address);
                config.write("url = \"" + QUrl(url).toEncoded() + "\"\noutput = \"curl/" +
                             pelagrin::regionTileName(s).toUtf8() + "\"\n");
            }
        }
    }

    static void empty(const QString& folder)
    {
        QDir dir(folder);
        for (const QString& file : dir.entryList(QDir::Files)) {
            dir.remove(file);
        }
    }

    // The tiles in |folder|; the downloader's world files beside them are not counted.
    static int count(const QString& folder)
    {
        return static_cast<int>(QDir(folder).entryList({"*.gif"}, QDir::Files).size());
    }

    SilentDialogs dialogs_;
    pelagrin::Form1 window_;
    int windowTiles_ = 0;
    int refreshed_ = 0;
    int curlTiles_ = 0;
    int curlStatus_ = -1;
};

} // namespace bench
