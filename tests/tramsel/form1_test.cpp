#include "common/twips.h"
#include "gifmaker.h"
#include "recordingdialogs.h"
#include "tempworkdir.h"
#include "tramsel/arrangebars.h"
#include "tramsel/form1.h"

#include <QDir>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

namespace {

using testsupport::TempWorkDir;

class TramselWindow : public ::testing::Test {
protected:
    void tiles(const QStringList& names) { TempWorkDir::writeTiles(names, gif); }
    // Runs the start-up and shows the window unless the program ended; whether it shows.
    bool load()
    {
        exitCode = form.Form_Load();
        if (!exitCode) {
            form.show();
        }
        return !exitCode;
    }
    void key(char c) { QTest::keyClick(&form, c); }
    QWidget* control(const char* name) { return form.findChild<QWidget*>(name); }

    const QByteArray gif = testsupport::makeGif(320, 320);
    TempWorkDir work;
    testsupport::RecordingDialogs dialogs;
    tramsel::Form1 form{dialogs};
    std::optional<int> exitCode;
};

TEST_F(TramselWindow, FirstRunCreatesTheFolderAndEnds)
{
    EXPECT_FALSE(load());
    EXPECT_TRUE(QFileInfo(QStringLiteral("MyMaps")).isDir());
    EXPECT_EQ(dialogs.messages, QStringList{tramsel::noImagesMessage});
    EXPECT_EQ(exitCode, 0);
}

TEST_F(TramselWindow, KeysStepToNeighboursAndNameThemInTheCaption)
{
    tiles({"IDA_E_B48!00L10!00Z45.gif", "IDA_E_B48!00L11!00Z45.gif", "IDA_E_B49!00L11!00Z45.gif"});
    ASSERT_TRUE(load());
    EXPECT_EQ(form.windowTitle(), tramsel::designCaption);
    key('k');
    EXPECT_EQ(form.windowTitle(),
              QStringLiteral("IDA_E_B48!00L11!00Z45.gif Tramsel by Ambrel for Pelagrin"));
    key('i');
    EXPECT_EQ(form.mapindex(), 2);
    for (const char c : {'I', 'M', 'J', 'K', 'x'}) {
        key(c);
    }
    EXPECT_EQ(form.mapindex(), 2);
    EXPECT_TRUE(dialogs.messages.isEmpty());
    key('m');
    key('j');
    EXPECT_EQ(form.mapindex(), 0);
    EXPECT_EQ(form.windowTitle(),
              QStringLiteral("IDA_E_B48!00L10!00Z45.gif Tramsel by Ambrel for Pelagrin"));
}

TEST_F(TramselWindow, AFailedMoveKeepsEverything)
{
    tiles({"IDA_E_B48!00L10!00Z45.gif", "IDA_E_B48!00L11!00Z45.gif"});
    ASSERT_TRUE(load());
    key('k');
    const QString caption = form.windowTitle();
    key('k');
    EXPECT_EQ(dialogs.messages, QStringList{tramsel::noNeighbourMessage});
    EXPECT_EQ(form.windowTitle(), caption);
    EXPECT_EQ(form.mapindex(), 1);
}

TEST_F(TramselWindow, ADamagedPictureIsNamedAndTheTileStays)
{
    tiles({"IDA_E_B48!00L10!00Z45.gif"});
    TempWorkDir::write(QStringLiteral("mymaps/IDA_E_B48!00L11!00Z45.gif"), "not a picture");
    ASSERT_TRUE(load());
    key('k');
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_TRUE(dialogs.messages.front().contains(u"IDA_E_B48!00L11!00Z45.gif"));
    EXPECT_EQ(form.mapindex(), 0);
    EXPECT_EQ(form.windowTitle(), tramsel::designCaption);
}

TEST_F(TramselWindow, SpaceSwitchesViewsAndScrollOffsetsSurviveAMove)
{
    tiles({"IDA_E_B48!00L10!00Z45.gif", "IDA_E_B48!00L11!00Z45.gif"});
    ASSERT_TRUE(load());
    EXPECT_FALSE(control("HScroll1")->isVisible());
    EXPECT_TRUE(control("PicDummy2")->isVisible()) << "the corner box shows in the fit view";
    EXPECT_EQ(control("Image1")->size(), form.frameGeometry().size());
    key(' ');
    EXPECT_FALSE(control("Image1")->isVisible());
    EXPECT_TRUE(control("Image2")->isVisible());
    EXPECT_TRUE(control("HScroll1")->isVisible());
    EXPECT_TRUE(control("VScroll1")->isVisible());

    auto* hscroll = form.findChild<QScrollBar*>("HScroll1");
    auto* vscroll = form.findChild<QScrollBar*>("VScroll1");
    EXPECT_EQ(hscroll->maximum(), 14800);
    hscroll->setValue(300);
    vscroll->setValue(1500);
    EXPECT_EQ(control("Image2")->pos(), QPoint(-20, -100));
    key('k');
    EXPECT_EQ(control("Image2")->pos(), QPoint(-20, -100));
    key(' ');
    EXPECT_TRUE(control("Image1")->isVisible());
    EXPECT_FALSE(control("HScroll1")->isVisible());
}

TEST_F(TramselWindow, ResizingPlacesTheBarsFromTheOuterSizeDownToATinyWindow)
{
    tiles({"IDA_E_B48!00L9!00Z45.gif"});
    ASSERT_TRUE(load());
    form.resize(700, 500);
    EXPECT_EQ(control("Image1")->size(), form.frameGeometry().size());
    key(' ');
    for (const QSize size : {QSize(700, 500), QSize(3, 3)}) {
        form.resize(size);
        const QSize outer = form.frameGeometry().size();
        const tramsel::BarsLayout expected = tramsel::arrangebars(
            {common::pixelsToTwips(outer.width()), common::pixelsToTwips(outer.height()),
             common::pixelsToTwips(320), common::pixelsToTwips(320), true});
        const auto pixels = [](const QRect& r) {
            return common::twipsRect(r.x(), r.y(), r.width(), r.height());
        };
        EXPECT_EQ(control("HScroll1")->geometry(), pixels(expected.hscroll)) << size.width();
        EXPECT_EQ(control("VScroll1")->geometry(), pixels(expected.vscroll)) << size.width();
    }
    EXPECT_EQ(control("HScroll1")->width(), 0) << "a bar too long for the window has length 0";
}

struct StartCase {
    const char* name;
    QStringList names;
    const char* shown; // the tile shown first, or nullptr when the program ends
};

class TramselStart : public TramselWindow, public ::testing::WithParamInterface<StartCase> {};

TEST_P(TramselStart, BeginsOnTheFirstTileNameInTheList)
{
    tiles(GetParam().names);
    const bool shown = load();
    EXPECT_EQ(shown, GetParam().shown != nullptr);
    if (!shown) {
        EXPECT_EQ(dialogs.messages, QStringList{tramsel::noImagesMessage});
        EXPECT_EQ(exitCode, 0);
        return;
    }
    EXPECT_EQ(form.windowTitle(), tramsel::designCaption);
    EXPECT_EQ(form.tileName(form.mapindex()), QString::fromLatin1(GetParam().shown));
    key('j'); // the first tile of every list here has a western neighbour
    EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join(u' ').toStdString();
    EXPECT_TRUE(form.windowTitle().startsWith(u"IDA_E_B48!00L9!00Z45.gif"));
}

INSTANTIATE_TEST_SUITE_P(
    Folders, TramselStart,
    ::testing::Values(StartCase{"TileFirst",
                                {"IDA_E_B48!00L9!00Z45.gif", "IDA_E_B48!00L10!00Z45.gif"},
                                "IDA_E_B48!00L10!00Z45.gif"},
                      // "Alpen.gif" sorts before the tiles.
                      StartCase{
                          "StrayPictureFirst",
                          {"Alpen.gif", "IDA_E_B48!00L9!00Z45.gif", "IDA_E_B48!00L10!00Z45.gif"},
                          "IDA_E_B48!00L10!00Z45.gif"},
                      StartCase{"OnlyStrayPictures", {"Alpen.gif", "notes.gif"}, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
