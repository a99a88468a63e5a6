#include "brontile/form1.h"
#include "common/pictureview.h"
#include "common/twips.h"
#include "gifmaker.h"
#include "recordingdialogs.h"
#include "tempworkdir.h"

#include <QDir>
#include <QScrollArea>
#include <QScrollBar>

#include <gtest/gtest.h>

namespace {

using testsupport::TempWorkDir;

class BrontileWindow : public ::testing::Test {
protected:
    void tiles(const QStringList& names)
    {
        TempWorkDir::writeTiles(names, testsupport::makeGif(200, 200));
    }
    // Builds the grid; whether the window stays, the program not having ended.
    bool load()
    {
        dialogs.onMessage = [this](const QString&) { visibleAtMessage.append(form.isVisible()); };
        exitCode = form.Form_Load();
        return !exitCode;
    }

    TempWorkDir work;
    std::optional<int> exitCode;
    testsupport::RecordingDialogs dialogs;
    brontile::Form1 form{dialogs};
    QList<bool> visibleAtMessage;
};

TEST_F(BrontileWindow, PlacesElementsInTwipsAndEndsWithReady)
{
    tiles({"IDA_E_B48L10Z45.gif", "IDA_E_B48L11Z45.gif", "IDA_E_B49L10Z45.gif",
           "IDA_E_B49L11Z45.gif"});
    ASSERT_TRUE(load());
    EXPECT_EQ(dialogs.messages, QStringList{brontile::readyMessage});
    EXPECT_EQ(visibleAtMessage, QList<bool>{true});
    const auto& images = form.images();
    ASSERT_EQ(images.size(), 4u);
    const QPoint expected[] = {{0, 0}, {93, 0}, {0, 89}, {93, 89}}; // 1400 and 1330 twips
    for (std::size_t i = 0; i < images.size(); ++i) {
        EXPECT_EQ(images[i]->geometry(), QRect(expected[i], QSize(97, 89))) << i;
        EXPECT_TRUE(images[i]->isVisible());
        EXPECT_TRUE(images[i]->stretch());
        EXPECT_EQ(images[i]->pixmap().size(), QSize(97, 89)) << "kept at cell size";
    }
}

TEST_F(BrontileWindow, TwoTilesShowTheWindowOnlyAfterReady)
{
    tiles({"IDA_E_B48L10Z45.gif", "IDA_E_B48L11Z45.gif"});
    ASSERT_TRUE(load());
    EXPECT_EQ(visibleAtMessage, QList<bool>{false});
    EXPECT_EQ(form.images().size(), 2u);
}

TEST_F(BrontileWindow, ADamagedPictureLeavesItsCellEmptyAndIsListed)
{
    tiles({"IDA_E_B48L10Z45.gif", "IDA_E_B48L12Z45.gif"});
    TempWorkDir::write(QStringLiteral("mymaps/IDA_E_B48L11Z45.gif"), "damaged");
    ASSERT_TRUE(load());
    ASSERT_EQ(dialogs.messages.size(), 2);
    // Each unreadable tile with the reader's reason, as Tramsel gives it.
    const QStringList lines = dialogs.messages[0].split(u'\n');
    ASSERT_EQ(lines.size(), 2) << dialogs.messages[0].toStdString();
    EXPECT_TRUE(lines[1].startsWith(u"mymaps/IDA_E_B48L11Z45.gif (")) << lines[1].toStdString();
    EXPECT_TRUE(lines[1].endsWith(u')'));
    EXPECT_GT(lines[1].size(), QStringLiteral("mymaps/IDA_E_B48L11Z45.gif ()").size());
    EXPECT_EQ(dialogs.messages[1], brontile::readyMessage);
    ASSERT_EQ(form.images().size(), 3u);
    EXPECT_FALSE(form.images()[1]->hasPicture());
    EXPECT_TRUE(form.images()[2]->hasPicture());
}

// A grid larger than the window keeps its layout and scrolls; a tile whose place another holds
// is named after "Ready".
TEST_F(BrontileWindow, ALargeGridScrollsToItsLastTile)
{
    QStringList names;
    for (int row = 0; row < 10; ++row) {
        for (int column = 0; column < 12; ++column) {
            names.append(QStringLiteral("IDA_E_B%1L%2Z45.gif").arg(50 - row).arg(column));
        }
    }
    names.append(QStringLiteral("IDA_E_B50L0Z20.gif"));
    tiles(names);
    ASSERT_TRUE(load());
    // The first in the list (by name) holds the place.
    EXPECT_EQ(dialogs.messages.last(),
              brontile::readyLeavingOutMessage({QStringLiteral("IDA_E_B50L0Z45.gif")}));
    ASSERT_EQ(form.images().size(), 120u);
    common::PictureView* last = form.images().back();
    const QPoint corner(common::twipsToPixels(11 * 1400), common::twipsToPixels(9 * 1330));
    EXPECT_EQ(last->geometry().topLeft(), corner) << "the 12th column, 10th row";
    form.show();
    QScrollArea* scroller = form.scroller();
    EXPECT_TRUE(last->visibleRegion().isEmpty()) << "beyond the window at first";
    scroller->ensureWidgetVisible(last, 0, 0);
    EXPECT_GT(scroller->horizontalScrollBar()->value(), 0);
    EXPECT_GT(scroller->verticalScrollBar()->value(), 0);
    EXPECT_FALSE(last->visibleRegion().isEmpty());
    EXPECT_EQ(last->geometry().topLeft(), corner) << "the layout stays";
}

struct EmptyCase {
    const char* name;
    bool folder;
};

class NothingToShow : public BrontileWindow, public ::testing::WithParamInterface<EmptyCase> {};

TEST_P(NothingToShow, EndsInOrderWithoutCreatingTheFolder)
{
    if (GetParam().folder) {
        tiles({});
        TempWorkDir::write(QStringLiteral("mymaps/IDA_E_B48L10Z45.map"), "x");
    }
    EXPECT_FALSE(load());
    EXPECT_EQ(dialogs.messages, QStringList{brontile::noImagesMessage});
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(QDir().entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size(),
              GetParam().folder ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Folders, NothingToShow,
                         ::testing::Values(EmptyCase{"Missing", false}, EmptyCase{"Empty", true}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
