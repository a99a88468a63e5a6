#include "leftovers.h"
#include "pinmark/batch.h"
#include "pinmark/form1.h"
#include "pinmark/mapfile.h"
#include "pinmark/messages.h"
#include "recordingdialogs.h"
#include "tempworkdir.h"

#include <QDir>
#include <QLabel>

#include <gtest/gtest.h>

namespace {

using testsupport::TempWorkDir;

class PinmarkWindow : public ::testing::Test {
protected:
    void images(const QStringList& names)
    {
        TempWorkDir::writeTiles(names, {}, QStringLiteral("MyMaps"));
    }
    // Runs the batch; whether the window stays, the program not having ended.
    bool load()
    {
        dialogs.onMessage = [this](const QString&) {
            visibleAtMessage.append(form.isVisible());
            labelAtMessage.append(label()->text());
        };
        exitCode = form.Form_Load();
        return !exitCode;
    }
    QLabel* label() { return form.findChild<QLabel*>(QStringLiteral("Label1")); }
    QStringList maps() { return QDir(QStringLiteral("MyMaps")).entryList({"*.map"}, QDir::Files); }

    TempWorkDir work;
    std::optional<int> exitCode;
    testsupport::RecordingDialogs dialogs;
    pinmark::Form1 form{dialogs};
    QList<bool> visibleAtMessage;
    QStringList labelAtMessage;
};

TEST_F(PinmarkWindow, ShowsTheClosingMessageWordForWord)
{
    // Written out here apart from the program's constant: a change to either shows.
    const QString expected = QStringLiteral(
        "Ready! Creating automatic map files. Note this is the first release of the map file "
        "generator. you have to set the calibration point 1 and point 2 manually in each map "
        "file. it could be possible that the coordinates are already ok and you only have to "
        "move the points to the right position of the grid. next release will do this automatic "
        "and will create full automatic calibrated map files. Note: Be sure to have in your "
        "OziExplorer configuration->Maps->Lat/Long Display selected 'Degrees' (the first) "
        "otherwise it could be possible the map file won't works");
    ASSERT_EQ(expected.size(), 558);
    images({QStringLiteral("IDA_E_B48!50L11!25Z150.gif")});
    ASSERT_TRUE(load());
    EXPECT_EQ(dialogs.messages, QStringList{expected});
}

TEST_F(PinmarkWindow, EmptyFolderShowsTheClosingMessageAtOnce)
{
    images({QStringLiteral("IDA_E_B48!50L11!25Z150.map")});
    ASSERT_TRUE(load());
    EXPECT_EQ(dialogs.messages, QStringList{pinmark::closingMessage});
    EXPECT_EQ(visibleAtMessage, QList<bool>{false});
    EXPECT_TRUE(label()->text().isEmpty());
}

TEST_F(PinmarkWindow, CountsTheFilesWrittenAndShowsTheWindowWhileWorking)
{
    images({"IDA_E_B48!50L11!25Z150.gif", "IDA_E_B48!50L12!75Z150.GIF",
            "IDA_U_B40!70L-73!99Z150.gif", ".IDA_E_B1L1Z1.gif", "IDA_E_B1L1Z1.png"});
    ASSERT_TRUE(load());
    EXPECT_EQ(dialogs.messages, QStringList{pinmark::closingMessage});
    EXPECT_EQ(visibleAtMessage, QList<bool>{true});
    EXPECT_EQ(labelAtMessage.front(), QStringLiteral(" 3 map files have been created"));
    EXPECT_EQ(maps(), (QStringList{"IDA_E_B48!50L11!25Z150.map", "IDA_E_B48!50L12!75Z150.GIF.map",
                                   "IDA_U_B40!70L-73!99Z150.map"}));
}

TEST_F(PinmarkWindow, ForeignNamesAreSkippedAndListed)
{
    images({"holiday.gif", "IDA_E_B48!50L11!25Z150.gif", "IDA_E_B48!50Z150L11.gif"});
    ASSERT_TRUE(load());
    ASSERT_EQ(dialogs.messages.size(), 2);
    EXPECT_TRUE(dialogs.messages[0].contains(u"holiday.gif"));
    EXPECT_TRUE(dialogs.messages[0].contains(u"IDA_E_B48!50Z150L11.gif"));
    EXPECT_EQ(dialogs.messages[1], pinmark::closingMessage);
    EXPECT_EQ(labelAtMessage.front(), QStringLiteral(" 1 map files have been created"));
    EXPECT_EQ(maps().size(), 1);
}

TEST_F(PinmarkWindow, ControlCharactersOrACalibrationNameTakenLeaveAnImageOut)
{
    // Both of the first two write IDA_E_B48!50L11!25Z150.map: every ".gif" leaves the name.
    const QStringList clashing{"IDA.gif_E_B48!50L11!25Z150.gif", "IDA_E_B48!50L11!25Z150.gif"};
    images(clashing + QStringList{"IDA_E_B48!50L11!25Z\n150.gif", "IDA_E_B48!50L11!\r25Z150.gif"});
    ASSERT_TRUE(load());
    ASSERT_EQ(dialogs.messages.size(), 3);
    EXPECT_TRUE(dialogs.messages[0].contains(u"IDA_E_B48!50L11!25Z?150.gif"));
    EXPECT_TRUE(dialogs.messages[0].contains(u"IDA_E_B48!50L11!?25Z150.gif"));
    ASSERT_EQ(maps(), QStringList{"IDA_E_B48!50L11!25Z150.map"});
    const QByteArray kept = TempWorkDir::read(QStringLiteral("MyMaps/IDA_E_B48!50L11!25Z150.map"));
    const int first = kept == pinmark::mapFileText(clashing[0], 48.5, 11.25, 150) ? 0 : 1;
    EXPECT_EQ(kept, pinmark::mapFileText(clashing[first], 48.5, 11.25, 150));
    EXPECT_TRUE(dialogs.messages[1].contains(clashing[1 - first] +
                                             QStringLiteral(" (IDA_E_B48!50L11!25Z150.map)")))
        << dialogs.messages[1].toStdString();
}

TEST_F(PinmarkWindow, AFileThatCannotBeWrittenIsNamedAndTheBatchGoesOn)
{
    images({"IDA_E_B10L10Z10.gif", "IDA_E_B20L20Z20.gif"});
    // A folder in the calibration file's place cannot be replaced by a file.
    ASSERT_TRUE(QDir().mkdir(QStringLiteral("MyMaps/IDA_E_B10L10Z10.map")));
    ASSERT_TRUE(load());
    ASSERT_EQ(dialogs.messages.size(), 2);
    EXPECT_TRUE(dialogs.messages[0].contains(u"IDA_E_B10L10Z10.gif"));
    EXPECT_TRUE(QFileInfo(QStringLiteral("MyMaps/IDA_E_B10L10Z10.map")).isDir());
    EXPECT_TRUE(QFileInfo(QStringLiteral("MyMaps/IDA_E_B20L20Z20.map")).isFile());
}

TEST_F(PinmarkWindow, LeftoversOfAKilledRunGoAndNoneAreAdded)
{
    images({"IDA_E_B48!50L11!25Z150.gif"});
    const QString stale = testsupport::temporaryNameOf(testsupport::endedProcessId());
    const QString running = testsupport::temporaryNameOf(1); // a writer that still runs
    for (const QString& name : {stale, running}) {
        TempWorkDir::write(QStringLiteral("MyMaps/") + name, "half a calibration");
    }
    ASSERT_TRUE(load());
    EXPECT_EQ(QDir(QStringLiteral("MyMaps")).entryList(QDir::Files | QDir::Hidden, QDir::Name),
              (QStringList{running, "IDA_E_B48!50L11!25Z150.gif", "IDA_E_B48!50L11!25Z150.map"}));
}

TEST_F(PinmarkWindow, MissingFolderEndsInOrderAndCreatesNothing)
{
    EXPECT_FALSE(load());
    EXPECT_EQ(dialogs.messages, QStringList{pinmark::noImagesMessage});
    EXPECT_EQ(exitCode, 0);
    EXPECT_TRUE(QDir().entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
}

} // namespace
