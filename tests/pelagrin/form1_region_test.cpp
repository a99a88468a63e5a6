#include "common/numvalue.h"
#include "gifmaker.h"
#include "pelagrin/startup.h"
#include "regionfixture.h"

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
} // namespace
