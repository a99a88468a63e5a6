#include "common/numvalue.h"
#include "formfixture.h"
#include "gifmaker.h"
#include "pelagrin/startup.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QTimer>

#include <algorithm>

namespace {

using testsupport::FakeReply;
using testsupport::TempWorkDir;

class RegionDownload : public PelagrinWindow {
protected:
    // Sets both corners through the window; the messages of the two buttons are dropped.
    void setRegion(const char* zoom, const char* beginLat, const char* beginLon, const char* endLat,
                   const char* endLon)
    {
        ASSERT_TRUE(load());
        form->setConnections(connections);
        type("Text5", QString::fromLatin1(zoom));
        if (beginLat != nullptr) {
            type("Text1", QString::fromLatin1(beginLat));
            type("Text2", QString::fromLatin1(beginLon));
            click("Command2");
        }
        type("Text1", QString::fromLatin1(endLat));
        type("Text2", QString::fromLatin1(endLon));
        click("Command3");
        dialogs.messages.clear();
        requestsBefore = static_cast<int>(service.requests().size());
    }

    // Centres of the tiles requested by the run, as "lat/lon" before the shift.
    QStringList tileCentres() const
    {
        QStringList out;
        const QStringList queries = service.decodedQueries();
        for (int i = requestsBefore; i < queries.size(); ++i) {
            const QString cenp = queries[i].section(QStringLiteral("CenP="), 1).section(u'&', 0, 0);
            const double lat = common::numvalue(cenp.section(u',', 0, 0)) - 0.000001;
            const double lon = common::numvalue(cenp.section(u',', 1, 1)) - 0.000001;
            out.append(QStringLiteral("%1/%2").arg(qRound(lat)).arg(qRound(lon)));
        }
        return out;
    }

    QStringList tiles() const
    {
        return QDir(QStringLiteral("MyMaps")).entryList({"*.gif"}, QDir::Files, QDir::Name);
    }

    // The tiles the run asked for, as "lat/lon" (not the pictures that ask for the sources).
    QStringList tilesAsked() const
    {
        QStringList out = tileCentres();
        const QStringList queries = service.decodedQueries();
        for (int i = static_cast<int>(queries.size()) - 1; i >= requestsBefore; --i) {
            if (!queries[i].contains(u"Size=1999,1999")) {
                out.removeAt(i - requestsBefore);
            }
        }
        return out;
    }

    int requestsBefore = 0;
    int connections = 1; // one tile after the other, so that requests arrive in plan order
};

TEST_F(RegionDownload, SixTilesInRowsFromSouthWithMessagesToTheCharacter)
{
    // The 4th tile takes long, so that the first three go to the disk as a group without it.
    transferTimeoutMs = 10'000;
    setRegion("45", "48", "9", "47", "11");
    const QByteArray tile = testsupport::makeFlatGif(1999, 1999);
    for (int i = 0; i < 3; ++i) {
        service.enqueue(FakeReply::bytes(tile));
    }
    service.enqueue(FakeReply::slow(tile, 1500));
    QStringList progress;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const QString shown = control<QLabel>("Label6")->text();
        if (progress.isEmpty() || progress.last() != shown) {
            progress.append(shown);
        }
    });
    watch.start(1);
    click("Command4");
    EXPECT_EQ(dialogs.messages,
              (QStringList{QStringLiteral("Starting download from  48, 9 to  47, 11. This will "
                                          "make  6 images in this zoom mode!"),
                           QStringLiteral("Ready.  6 images have been downloaded for you")}));
    EXPECT_EQ(tileCentres(), (QStringList{"47/9", "47/10", "47/11", "48/9", "48/10", "48/11"}));
    EXPECT_TRUE(service.decodedQueries()[requestsBefore].contains(
        u"CenP= 47.000001, 9.000001&Lang=EUR0407&Alti= 45&Size=1999,1999"));
    EXPECT_TRUE(tiles().contains(u"IDA_E_B47!00L9!00Z45.gif"));
    EXPECT_EQ(tiles().size(), 6);
    EXPECT_TRUE(progress.contains(QStringLiteral(" 3  50% of  6 images total")))
        << progress.join(u'|').toStdString();
}

TEST_F(RegionDownload, WindowIsRestoredAndStartStaysDisabled)
{
    setRegion("45", "48", "9", "47", "10");
    bool preparedDuringRun = false;
    service.onRequest = [&](int) {
        preparedDuringRun = control("Command6")->isVisible() && !control("Command7")->isVisible() &&
                            control("Check1")->isVisible() && !control("Text1")->isEnabled() &&
                            !control("Command4")->isEnabled() && !control("Text5")->isEnabled();
    };
    click("Command4");
    EXPECT_TRUE(preparedDuringRun);
    for (const char* name :
         {"Command1", "Command2", "Command3", "Command5", "Text1", "Text2", "Text5"}) {
        EXPECT_TRUE(control(name)->isEnabled()) << name;
    }
    EXPECT_FALSE(control("Command4")->isEnabled());
    EXPECT_FALSE(control("Command6")->isVisible());
    EXPECT_FALSE(control("Check1")->isVisible());
    EXPECT_TRUE(control("Command7")->isVisible());
    EXPECT_TRUE(control<QLabel>("Label6")->text().isEmpty());
    EXPECT_DOUBLE_EQ(form->settings().centre.latitude, 47) << "the boxes are read back";
}

TEST_F(RegionDownload, ReversedCornersMakeNoImages)
{
    setRegion("45", "47", "11", "48", "9");
    click("Command4");
    EXPECT_EQ(dialogs.messages,
              (QStringList{QStringLiteral("Starting download from  47, 11 to  48, 9. This will "
                                          "make  0 images in this zoom mode!"),
                           QStringLiteral("Ready.  0 images have been downloaded for you")}));
    EXPECT_TRUE(tileCentres().isEmpty());
}

TEST_F(RegionDownload, UnsetBeginCornerCountsAsZero)
{
    setRegion("45", nullptr, nullptr, "-1", "1");
    click("Command4");
    EXPECT_EQ(dialogs.messages.front(),
              QStringLiteral("Starting download from  0, 0 to -1, 1. This will make  4 images in "
                             "this zoom mode!"));
    EXPECT_EQ(tileCentres(), (QStringList{"-1/0", "-1/1", "0/0", "0/1"}));
    EXPECT_TRUE(tiles().contains(u"IDA_E_B!00L!00Z45.gif"));
    EXPECT_TRUE(tiles().contains(u"IDA_E_B-!99L1!00Z45.gif"));
}

TEST_F(RegionDownload, AbortDuringTheThirdTileCompletesIt)
{
    setRegion("45", "48", "9", "47", "11");
    service.onRequest = [&](int n) {
        if (n == requestsBefore + 3) {
            click("Command6");
        }
    };
    click("Command4");
    EXPECT_EQ(dialogs.messages.last(),
              QStringLiteral("Ready.  3 images have been downloaded for you"));
    EXPECT_EQ(tiles().size(), 3);
}

// Abort once the first tile has arrived and the second is asked for: the first, which may still
// wait for its group to reach the disk, and the one in flight are both completed.
TEST_F(RegionDownload, AbortBetweenTwoTilesCompletesTheOneInFlight)
{
    setRegion("45", "48", "9", "47", "11");
    service.setDefault(FakeReply::slow(testsupport::makeFlatGif(1999, 1999), 200));
    service.onRequest = [&](int n) {
        if (n == requestsBefore + 2) {
            click("Command6");
        }
    };
    click("Command4");
    EXPECT_EQ(service.requests().size(), requestsBefore + 2);
    EXPECT_EQ(dialogs.messages.last(),
              QStringLiteral("Ready.  2 images have been downloaded for you"));
    EXPECT_EQ(tiles().size(), 2);
}

TEST_F(RegionDownload, CrossingMinus30ChangesTheMapLetter)
{
    setRegion("45", "50", "-32", "50", "-29");
    click("Command4");
    // -30 shifted by the centre shift lies east of -30 already.
    EXPECT_EQ(tiles(), (QStringList{"IDA_E_B50!00L-28!99Z45.gif", "IDA_E_B50!00L-29!99Z45.gif",
                                    "IDA_U_B50!00L-30!99Z45.gif", "IDA_U_B50!00L-31!99Z45.gif"}));
}

TEST_F(RegionDownload, ShowsEachTileWhenAsked)
{
    setRegion("45", "48", "9", "48", "9");
    service.onRequest = [&](int) { control<QCheckBox>("Check1")->setChecked(true); };
    service.setDefault(FakeReply::gif(1999, 1999));
    click("Command4");
    EXPECT_EQ(control<QLabel>("Image1")->pixmap().size(), QSize(1999, 1999));
}

TEST_F(RegionDownload, AFailingTileIsTriedThreeTimesThenTheRunStops)
{
    setRegion("45", "48", "9", "47", "11");
    service.enqueue(FakeReply::flatGif(1999, 1999));
    for (int i = 0; i < 3; ++i) {
        service.enqueue(FakeReply::error(503));
    }
    click("Command4");
    ASSERT_EQ(dialogs.messages.size(), 3);
    EXPECT_TRUE(dialogs.messages[1].contains(u"MyMaps/IDA_E_B47!00L10!00Z45.gif"));
    EXPECT_TRUE(dialogs.messages[1].contains(u"HTTP 503"));
    EXPECT_EQ(dialogs.messages[2], QStringLiteral("Ready.  1 images have been downloaded for you"))
        << "only the tile stored counts";
    EXPECT_EQ(service.requests().size(), requestsBefore + 4);
    EXPECT_EQ(tiles(), QStringList{"IDA_E_B47!00L9!00Z45.gif"});
    EXPECT_TRUE(control("Command1")->isEnabled());
}

TEST_F(RegionDownload, AbortWhileATileFailsStopsWithoutItsRetries)
{
    setRegion("45", "48", "9", "47", "11");
    service.enqueue(FakeReply::flatGif(1999, 1999));
    service.setDefault(FakeReply::error(503));
    service.onRequest = [&](int n) {
        if (n == requestsBefore + 2) {
            click("Command6");
        }
    };
    click("Command4");
    EXPECT_EQ(service.requests().size(), requestsBefore + 2) << "no retry after the abort";
    ASSERT_EQ(dialogs.messages.size(), 3);
    EXPECT_TRUE(dialogs.messages[1].contains(u"IDA_E_B47!00L10!00Z45.gif"));
    EXPECT_EQ(dialogs.messages[2], QStringLiteral("Ready.  1 images have been downloaded for you"));
    EXPECT_FALSE(control("Command6")->isVisible());
}

TEST_F(RegionDownload, TheDefaultTwoConnectionsStoreTheSameTilesWithTheSameMessages)
{
    connections = pelagrin::defaultConnections;
    setRegion("45", "48", "9", "47", "11");
    QStringList progress;
    service.onRequest = [&](int) { progress.append(control<QLabel>("Label6")->text()); };
    click("Command4");
    EXPECT_EQ(dialogs.messages,
              (QStringList{QStringLiteral("Starting download from  48, 9 to  47, 11. This will "
                                          "make  6 images in this zoom mode!"),
                           QStringLiteral("Ready.  6 images have been downloaded for you")}));
    QStringList centres = tileCentres();
    centres.sort();
    EXPECT_EQ(centres, (QStringList{"47/10", "47/11", "47/9", "48/10", "48/11", "48/9"}));
    EXPECT_EQ(tiles().size(), 6);
    EXPECT_GE(service.connectionCount(), 2);
    // The progress line counts the tiles finished, so it never goes back.
    QStringList sorted = progress;
    std::sort(sorted.begin(), sorted.end(), [](const QString& a, const QString& b) {
        return common::numvalue(a) < common::numvalue(b);
    });
    EXPECT_EQ(progress, sorted);
}

TEST_F(RegionDownload, ZeroZoomIsRefused)
{
    setRegion("0", "48", "9", "47", "11");
    click("Command4");
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_TRUE(dialogs.messages.front().contains(u"0 degrees apart"));
    EXPECT_EQ(service.requests().size(), requestsBefore);
    EXPECT_TRUE(control("Command4")->isEnabled());
}

TEST_F(RegionDownload, DivisorThatIsNoNumberIsRefusedNamingTheBox)
{
    setRegion("45", "48", "9", "47", "11");
    type("Text4", QStringLiteral("4x"));
    click("Command4");
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_TRUE(dialogs.messages.front().contains(u"\"L-Grad offset\""));
    EXPECT_EQ(service.requests().size(), requestsBefore);
}

// The program ends with its window: the tile in flight is dropped whole, the tiles stored
// before stay, and nothing more is told or fetched.
TEST_F(RegionDownload, ClosingTheWindowDropsTheTileInFlightAndStartsNoMore)
{
    setRegion("45", "48", "9", "47", "11");
    service.onRequest = [&](int n) {
        if (n == requestsBefore + 2) {
            form->close();
        }
    };
    click("Command4");
    QTest::qWait(100); // anything still under way would arrive meanwhile
    EXPECT_EQ(dialogs.messages.size(), 1) << "only the start message";
    EXPECT_EQ(service.requests().size(), requestsBefore + 2);
    EXPECT_EQ(tiles().size(), 1);
    EXPECT_EQ(QDir(QStringLiteral("MyMaps")).entryList(QDir::Hidden | QDir::Files).filter(u".tmp"),
              QStringList());
    EXPECT_FALSE(QFileInfo::exists(pelagrin::previewFile));
}

TEST_F(RegionDownload, TilesStoredBeforeAreLeftOutWhenTheUserSaysSo)
{
    using Answer = common::Dialogs::Answer;
    setRegion("45", "48", "9", "47", "11");
    click("Command4"); // all six
    const auto takeAway = [] {
        QFile::remove(QStringLiteral("MyMaps/IDA_E_B47!00L10!00Z45.gif"));
        QFile::remove(QStringLiteral("MyMaps/IDA_E_B48!00L11!00Z45.gfw"));
    };
    struct Case {
        Answer answer;
        int requests;
        const char* centres;
    };
    for (const Case& c : {Case{Answer::Cancel, 0, ""}, Case{Answer::No, 6, ""},
                          Case{Answer::Yes, 2, "47/10 48/11"}}) {
        setRegion("45", "48", "9", "47", "11");
        takeAway();
        dialogs.questions.clear();
        dialogs.answers = {c.answer};
        click("Command4");
        EXPECT_EQ(dialogs.questions,
                  QStringList{QStringLiteral("4 of 6 tiles of this region are already in MyMaps. "
                                             "Download only the 2 missing ones?")});
        EXPECT_EQ(static_cast<int>(service.requests().size()) - requestsBefore, c.requests);
        if (c.answer == Answer::Cancel) {
            EXPECT_TRUE(dialogs.messages.isEmpty());
            EXPECT_TRUE(control("Command4")->isEnabled());
            EXPECT_DOUBLE_EQ(form->settings().endlong, 11);
        }
        if (c.answer == Answer::Yes) {
            EXPECT_EQ(tileCentres().join(u' '), QString::fromLatin1(c.centres));
            EXPECT_EQ(
                dialogs.messages,
                (QStringList{QStringLiteral("Starting download from  48, 9 to  47, 11. "
                                            "This will make  2 images in this zoom mode!"),
                             QStringLiteral("Ready.  2 images have been downloaded for you")}));
        }
    }
    // All there: downloading them again is asked, and No is the default.
    setRegion("45", "48", "9", "47", "11");
    dialogs.questions.clear();
    click("Command4");
    EXPECT_EQ(dialogs.questions, QStringList{QStringLiteral("All 6 tiles of this region are "
                                                            "already in MyMaps. Download them all "
                                                            "again?")});
    EXPECT_EQ(static_cast<int>(service.requests().size()), requestsBefore);
    EXPECT_TRUE(control("Command4")->isEnabled());
}

// A region's tiles come from one source: tiles stored from another than the service's now are
// fetched again with the missing ones, and the question says so; tiles stored before sources
// were recorded count as they are.
TEST_F(RegionDownload, TilesOfAnotherSourceAreFetchedAgain)
{
    const QByteArray a = "aaaa000000000001";
    const QByteArray b = "bbbb000000000002";
    const struct {
        const char* name;
        QByteArray before; // the source the first run stored the tiles from ("": not said)
        const char* question;
        const char* asked;
    } cases[] = {
        {"same source", b,
         "4 of 6 tiles of this region are already in MyMaps. Download only the 2 missing ones?",
         "47/10 48/11"},
        {"another source", a,
         "2 of 6 tiles of this region are already in MyMaps. Download only the 4 missing ones? "
         "2 of them are from another source and will be replaced.",
         "47/10 47/11 48/10 48/11"},
        {"no recorded source", "",
         "4 of 6 tiles of this region are already in MyMaps. Download only the 2 missing ones?",
         "47/10 48/11"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(QStringLiteral("MyMaps")).removeRecursively();
        service.setSource(c.before);
        setRegion("45", "48", "9", "47", "11");
        click("Command4"); // all six
        QFile::remove(QStringLiteral("MyMaps/IDA_E_B47!00L10!00Z45.gif"));
        QFile::remove(QStringLiteral("MyMaps/IDA_E_B48!00L11!00Z45.gif"));
        // The western column of another source than the rest, where the rest recorded one.
        for (const char* tile : {"47!00L9", "48!00L9"}) {
            const QString aux = QStringLiteral("MyMaps/IDA_E_B%1!00Z45.gif.aux.xml").arg(tile);
            TempWorkDir::write(aux, TempWorkDir::read(aux).replace(a, b));
        }
        service.setSource(b);
        setRegion("45", "48", "9", "47", "11");
        dialogs.questions.clear();
        dialogs.answers = {common::Dialogs::Answer::Yes};
        click("Command4");
        EXPECT_EQ(dialogs.questions, QStringList{QString::fromLatin1(c.question)});
        EXPECT_EQ(tilesAsked().join(u' '), QString::fromLatin1(c.asked));
    }
}

} // namespace
