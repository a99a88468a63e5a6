// Going on where a run stopped: tiles already in place are left out when the user says so, and
// tiles of another map source than the service's now are fetched again.
#include "regionfixture.h"

#include <QFile>

namespace {

using testsupport::TempWorkDir;

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
