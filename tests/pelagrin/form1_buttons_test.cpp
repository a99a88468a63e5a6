#include "common/pictureview.h"
#include "common/worldfile.h"
#include "formfixture.h"
#include "gifmaker.h"
#include "pelagrin/messages.h"
#include "pelagrin/startup.h"

#include <QDir>
#include <QFileInfo>
#include <QRadioButton>

namespace {

using testsupport::FakeReply;
using testsupport::TempWorkDir;

struct CornerCase {
    const char* name;
    const char* button;
    const char* zoom;
    const char* latitude;
    const char* longitude;
    const char* message;
    double lat; // stored corner
    double lon;
};

class RegionCorners : public PelagrinWindow, public ::testing::WithParamInterface<CornerCase> {};

TEST_P(RegionCorners, StoreRoundedCornersAndConfirmThem)
{
    const CornerCase c = GetParam();
    ASSERT_TRUE(load());
    type("Text1", QString::fromLatin1(c.latitude));
    type("Text2", QString::fromLatin1(c.longitude));
    type("Text5", QString::fromLatin1(c.zoom));
    click(c.button);
    EXPECT_EQ(dialogs.messages, QStringList{QString::fromUtf8(c.message)});
    const pelagrin::MapSettings& s = form->settings();
    const bool begin = QByteArray(c.button) == "Command2";
    EXPECT_DOUBLE_EQ(begin ? s.beginlat : s.endlat, c.lat);
    EXPECT_DOUBLE_EQ(begin ? s.beginlong : s.endlong, c.lon);
    const bool refused = dialogs.messages.front() == pelagrin::zoomLimitMessage;
    EXPECT_EQ(control("Text5")->isEnabled(), !begin || refused);
    EXPECT_EQ(control("Command4")->isEnabled(), !begin);
}

INSTANTIATE_TEST_SUITE_P(
    Corners, RegionCorners,
    ::testing::Values(CornerCase{"BeginAt3000", "Command2", "3000", "47.651931", "9.476379",
                                 "OK. Start is Breitengrad  47 and Längengrad  9", 47, 9},
                      CornerCase{"BeginAbove3000", "Command2", "3000.5", "47.651931", "9.476379",
                                 "You must set to zoom 3000 or below", 0, 0},
                      CornerCase{"BeginAt50000", "Command2", "50000", "47.651931", "9.476379",
                                 "You must set to zoom 3000 or below", 0, 0},
                      CornerCase{"EndAt50000", "Command3", "50000", "47.651931", "9.476379",
                                 "OK. End is Breitengrad  47 and Längengrad  9", 47, 9},
                      CornerCase{"Zoom20Rounds", "Command2", "20", "-33.2", "0.5",
                                 "OK. Start is Breitengrad -34 and Längengrad  0", -34, 0},
                      CornerCase{"Zoom19.9Keeps", "Command2", "19.9", "47.651931", "-0.5",
                                 "OK. Start is Breitengrad  47.651931 and Längengrad -.5",
                                 47.651931, -0.5},
                      CornerCase{"NegativeHalf", "Command3", "100", "-0.5", "0.5",
                                 "OK. End is Breitengrad -1 and Längengrad  0", -1, 0},
                      CornerCase{"UnreadableBoxes", "Command3", "45", "abc", "48,5",
                                 "OK. End is Breitengrad  0 and Längengrad  48", 0, 48}),
    [](const auto& info) {
        std::string name = info.param.name;
        std::replace(name.begin(), name.end(), '.', '_');
        return name;
    });

using PelagrinButtons = PelagrinWindow;

TEST_F(PelagrinButtons, EndCornerWithoutBeginEnablesStartDownload)
{
    ASSERT_TRUE(load());
    ASSERT_FALSE(control("Command4")->isEnabled());
    click("Command3");
    EXPECT_TRUE(control("Command4")->isEnabled());
    EXPECT_DOUBLE_EQ(form->settings().beginlat, 0);
    EXPECT_DOUBLE_EQ(form->settings().beginlong, 0);
}

TEST_F(PelagrinButtons, PreviewIsFittedThenRefreshIsNaturalSize)
{
    ASSERT_TRUE(load());
    service.enqueue(FakeReply::gif(1999, 1999));
    auto* image = control<common::PictureView>("Image1");
    click("Command7");
    EXPECT_TRUE(image->stretch());
    EXPECT_EQ(image->pixmap().size(), QSize(1999, 1999));
    EXPECT_EQ(image->size(), QSize(320, 320)) << "the area keeps its size";
    click("Command1");
    EXPECT_FALSE(image->stretch());
    EXPECT_EQ(image->pixmap().size(), QSize(320, 320));
    ASSERT_EQ(service.requests().size(), 3);
    EXPECT_TRUE(service.decodedQueries()[1].contains(u"&Lang=EUR0407&Alti= 50000&Size=1999,1999"));
    EXPECT_TRUE(service.decodedQueries()[2].contains(u"&Size=320,320"));
    EXPECT_TRUE(dialogs.messages.isEmpty());
}

TEST_F(PelagrinButtons, AClickPutsThePlaceUnderItIntoTheCentreBoxes)
{
    ASSERT_TRUE(load());
    auto* image = control<common::PictureView>("Image1");
    QTest::mouseClick(image, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(control<QLineEdit>("Text1")->text(), u"47.651931") << "no button fetched it";
    type("Text1", QStringLiteral("10"));
    type("Text2", QStringLiteral("20"));
    type("Text5", QStringLiteral("45"));
    service.enqueue(FakeReply::gif(1999, 1999));
    click("Command7"); // shrunk into 320 x 320
    type("Text1", QStringLiteral("0"));
    type("Text5", QStringLiteral("90")); // the picture's own centre and zoom count
    QTest::mouseClick(image, Qt::LeftButton, {}, QPoint(0, 319));
    EXPECT_EQ(control<QLineEdit>("Text1")->text(), u"9.503252");
    EXPECT_EQ(control<QLineEdit>("Text2")->text(), u"19.500250");
    EXPECT_EQ(control<QLineEdit>("Text5")->text(), u"90");
    QTest::mouseClick(image, Qt::RightButton, {}, QPoint(160, 160));
    EXPECT_EQ(control<QLineEdit>("Text1")->text(), u"9.503252");
    EXPECT_EQ(service.requests().size(), 2) << "a click fetches nothing";
}

struct SaveCase {
    const char* name;
    bool option2;
    const char* longitude;
    const char* lang;
    const char* file;
};

class SaveSingle : public PelagrinWindow, public ::testing::WithParamInterface<SaveCase> {};

TEST_P(SaveSingle, NamesTheFileByTheRequestedMapCode)
{
    ASSERT_TRUE(load());
    if (GetParam().option2) {
        control<QRadioButton>("Option2")->setChecked(true);
    }
    type("Text2", QString::fromLatin1(GetParam().longitude));
    const qint64 pictureBefore = control<common::PictureView>("Image1")->pixmap().cacheKey();
    click("Command5");
    click("Command5");
    EXPECT_TRUE(dialogs.messages.isEmpty());
    EXPECT_TRUE(
        service.decodedQueries().last().contains(QStringLiteral("&Lang=%1&").arg(GetParam().lang)));
    const QString file = QString::fromLatin1(GetParam().file);
    EXPECT_EQ(QDir(QStringLiteral("MyMaps")).entryList({"*.gif"}, QDir::Files), QStringList{file});
    // Beside it, where it lies: zoom 50000 spans 50000 / 45 degrees in 1999 pixels.
    const auto place = common::readWorldFile(
        TempWorkDir::read(common::worldFilePath(QStringLiteral("MyMaps/") + file)));
    ASSERT_TRUE(place.has_value());
    EXPECT_DOUBLE_EQ((*place)[1], 50000.0 / 45 / 1999);
    EXPECT_DOUBLE_EQ((*place)[3], 47.651931 + 50000.0 / 45 / 2);
    EXPECT_TRUE(QFileInfo::exists(common::auxFilePath(QStringLiteral("MyMaps/") + file)));
    EXPECT_EQ(control<common::PictureView>("Image1")->pixmap().cacheKey(), pictureBefore);
}

INSTANTIATE_TEST_SUITE_P(MapTypes, SaveSingle,
                         ::testing::Values(SaveCase{"Maptype1", false, "9.476379", "EUR0407",
                                                    "ID_E_B47!651931L9!476379Z50000.gif"},
                                           SaveCase{"Maptype2", true, "9.476379", "WLD0407",
                                                    "ID_W_B47!651931L9!476379Z50000.gif"},
                                           SaveCase{"America", false, "-74", "USA407",
                                                    "ID_U_B47!651931L-74Z50000.gif"}),
                         [](const auto& info) { return std::string(info.param.name); });

struct FailedButtonCase {
    const char* name;
    const char* button;
    FakeReply reply;
    const char* textPart;
};

class FailedButtonFetch : public PelagrinWindow,
                          public ::testing::WithParamInterface<FailedButtonCase> {};

TEST_P(FailedButtonFetch, ReportsAndKeepsTheWindowUsable)
{
    ASSERT_TRUE(load());
    const qint64 pictureBefore = control<common::PictureView>("Image1")->pixmap().cacheKey();
    service.enqueue(GetParam().reply);
    click(GetParam().button);
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_TRUE(dialogs.messages.front().contains(QString::fromLatin1(GetParam().textPart)))
        << dialogs.messages.front().toStdString();
    EXPECT_EQ(control<common::PictureView>("Image1")->pixmap().cacheKey(), pictureBefore);
    for (const char* button : {"Command1", "Command5", "Command7"}) {
        EXPECT_TRUE(control(button)->isEnabled()) << button;
    }
    EXPECT_FALSE(control("Command4")->isEnabled());
}

INSTANTIATE_TEST_SUITE_P(
    Buttons, FailedButtonFetch,
    ::testing::Values(FailedButtonCase{"RefreshError", "Command1", FakeReply::error(500),
                                       "HTTP 500"},
                      FailedButtonCase{"PreviewNoPicture", "Command7", FakeReply::html(),
                                       "no whole GIF image but 17 bytes of text/html"},
                      FailedButtonCase{"SaveError", "Command5", FakeReply::error(404),
                                       "MyMaps/ID_E_B47!651931L9!476379Z50000.gif"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PelagrinButtons, SaveIntoAVanishedFolderNamesTheFile)
{
    ASSERT_TRUE(load());
    ASSERT_TRUE(QDir(QStringLiteral("MyMaps")).removeRecursively());
    click("Command5");
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_TRUE(dialogs.messages.front().contains(u"ID_E_B47!651931L9!476379Z50000.gif"));
}

TEST_F(PelagrinButtons, SaveSaysTheImageIsStoredWhenOnlyItsWorldFileIsNot)
{
    ASSERT_TRUE(load());
    const QString image = QStringLiteral("MyMaps/ID_E_B47!651931L9!476379Z50000.gif");
    ASSERT_TRUE(QDir().mkpath(common::worldFilePath(image))); // a folder holds its name
    click("Command5");
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_TRUE(dialogs.messages.front().startsWith(
        QStringLiteral("The image %1 was saved, but the files beside it").arg(image)))
        << dialogs.messages.front().toStdString();
    EXPECT_GT(QFileInfo(image).size(), 0);
}

TEST_F(PelagrinButtons, FetchingButtonsAreLockedWhileTheirFetchRuns)
{
    ASSERT_TRUE(load());
    click("Command3"); // enables "Start download"
    QStringList enabledDuringFetch;
    service.onRequest = [&](int) {
        for (const char* button : {"Command1", "Command4", "Command5", "Command7"}) {
            if (control(button)->isEnabled()) {
                enabledDuringFetch.append(QString::fromLatin1(button));
            }
        }
    };
    for (const char* button : {"Command1", "Command7", "Command5"}) {
        click(button);
    }
    EXPECT_TRUE(enabledDuringFetch.isEmpty()) << enabledDuringFetch.join(u' ').toStdString();
    for (const char* button : {"Command1", "Command4", "Command5", "Command7"}) {
        EXPECT_TRUE(control(button)->isEnabled()) << button;
    }
}

struct DuringFetchCase {
    const char* name;
    const char* fetchButton;
    const char* cornerButton;
    const char* control; // the control the corner button changes
    bool enabled;        // its state after the fetch
};

class CornerDuringFetch : public PelagrinWindow,
                          public ::testing::WithParamInterface<DuringFetchCase> {};

TEST_P(CornerDuringFetch, KeepsItsEffectAfterTheFetch)
{
    ASSERT_TRUE(load());
    type("Text5", QStringLiteral("45"));
    service.onRequest = [&](int) { click(GetParam().cornerButton); };
    click(GetParam().fetchButton);
    EXPECT_EQ(dialogs.messages.size(), 1) << "the corner's confirmation";
    EXPECT_EQ(control(GetParam().control)->isEnabled(), GetParam().enabled);
}

INSTANTIATE_TEST_SUITE_P(
    Buttons, CornerDuringFetch,
    ::testing::Values(DuringFetchCase{"EndDuringRefresh", "Command1", "Command3", "Command4", true},
                      DuringFetchCase{"EndDuringPreview", "Command7", "Command3", "Command4", true},
                      DuringFetchCase{"EndDuringSave", "Command5", "Command3", "Command4", true},
                      DuringFetchCase{"BeginDuringRefresh", "Command1", "Command2", "Text5",
                                      false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PelagrinButtons, ClosingDuringARefreshLeavesNoPreviewAndNoMessage)
{
    ASSERT_TRUE(load());
    service.setDefault(FakeReply::slow(testsupport::makeGif(320, 320), 200));
    service.onRequest = [&](int) { form->close(); };
    click("Command1");
    EXPECT_FALSE(QFileInfo::exists(pelagrin::previewFile));
    EXPECT_TRUE(dialogs.messages.isEmpty());
}

} // namespace
