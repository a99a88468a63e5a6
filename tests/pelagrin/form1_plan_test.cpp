// Planning a region on the window: a drag on the picture, the outline and line that tell the
// region, a route, and aged tiles refreshed.
#include "common/picturemark.h"
#include "common/pictureview.h"
#include "pelagrin/messages.h"
#include "regionfixture.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLabel>

#include <algorithm>

namespace {

using Kind = common::PictureMark::Kind;

class RegionPlanning : public RegionDownload {
protected:
    // Shows the Preview picture of |zoom| around |lat|, |lon| (1999 pixels shrunk into 320).
    void preview(const char* lat, const char* lon, const char* zoom)
    {
        type("Text1", QString::fromLatin1(lat));
        type("Text2", QString::fromLatin1(lon));
        type("Text5", QString::fromLatin1(zoom));
        click("Command7");
    }

    common::PictureView* image() { return control<common::PictureView>("Image1"); }

    void drag(QPoint from, QPoint to)
    {
        QTest::mousePress(image(), Qt::LeftButton, {}, from);
        QTest::mouseMove(image(), (from + to) / 2);
        QTest::mouseMove(image(), to);
        QTest::mouseRelease(image(), Qt::LeftButton, {}, to);
        planned();
    }

    void planned()
    {
        EXPECT_TRUE(QTest::qWaitFor([&] { return !form->planning(); }, 20'000));
    }

    int marks(Kind kind)
    {
        const auto& all = image()->marks();
        return static_cast<int>(std::count_if(all.begin(), all.end(),
                                              [kind](const auto& m) { return m.kind == kind; }));
    }

    QString line() { return control<QLabel>("Label7")->text(); }

    std::array<double, 4> corners() const
    {
        const auto& s = form->settings();
        return {s.beginlat, s.beginlong, s.endlat, s.endlong};
    }
};

struct DragCase {
    const char* name;
    const char* zoom; // of the region, in the zoom box
    QPoint from;
    QPoint to;
};

class DragCorners : public RegionPlanning, public ::testing::WithParamInterface<DragCase> {};

// A drag sets exactly what the two buttons set from a click at each of its corners.
TEST_P(DragCorners, AreTheButtonsCorners)
{
    ASSERT_TRUE(load());
    preview("-0.5", "179.5", "90"); // two degrees wide, across 180
    type("Text5", QString::fromLatin1(GetParam().zoom));
    const QPoint from = GetParam().from;
    const QPoint to = GetParam().to;
    QTest::mouseClick(image(), Qt::LeftButton, {},
                      QPoint(std::min(from.x(), to.x()), std::min(from.y(), to.y())));
    click("Command2");
    QTest::mouseClick(image(), Qt::LeftButton, {},
                      QPoint(std::max(from.x(), to.x()), std::max(from.y(), to.y())));
    click("Command3");
    auto byButtons = corners();
    if (byButtons[3] < byButtons[1]) {
        byButtons[3] += 360; // the drag runs on across 180
    }
    const QStringList buttonMessages = dialogs.messages;
    dialogs.messages.clear();
    const QString lat = control<QLineEdit>("Text1")->text();
    const QString lon = control<QLineEdit>("Text2")->text();
    const auto before = corners();
    drag(from, to);
    EXPECT_EQ(control<QLineEdit>("Text1")->text(), lat) << "a drag is no click";
    EXPECT_EQ(control<QLineEdit>("Text2")->text(), lon);
    if (buttonMessages.contains(pelagrin::zoomLimitMessage)) {
        EXPECT_EQ(dialogs.messages, QStringList{pelagrin::zoomLimitMessage});
        EXPECT_EQ(corners(), before);
    } else {
        EXPECT_TRUE(dialogs.messages.isEmpty());
        EXPECT_EQ(corners(), byButtons);
        EXPECT_FALSE(control("Text5")->isEnabled());
        EXPECT_TRUE(control("Command4")->isEnabled());
    }
}

INSTANTIATE_TEST_SUITE_P(Rounding, DragCorners,
                         ::testing::Values(DragCase{"whole_degrees", "45", {20, 30}, {300, 290}},
                                           DragCase{"backwards", "45", {300, 290}, {20, 30}},
                                           DragCase{"six_decimals", "9", {100, 40}, {200, 150}},
                                           DragCase{"across_180", "20", {10, 10}, {310, 310}},
                                           DragCase{"above_3000", "3001", {20, 20}, {200, 200}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(RegionPlanning, TheRegionIsOutlinedCountedEstimatedAndRefreshed)
{
    using Answer = common::Dialogs::Answer;
    ASSERT_TRUE(load());
    preview("47.5", "10.5", "180"); // four degrees wide: 46.5..48.5 north, 8.5..12.5 east
    type("Text5", QStringLiteral("45"));
    drag({60, 60}, {250, 250}); // 48.x, 9.x to 46.x, 11.x: corners 48/9 and 46/11
    EXPECT_EQ(corners(), (std::array<double, 4>{48, 9, 46, 11}));
    EXPECT_EQ(marks(Kind::Outline), 9);
    EXPECT_EQ(marks(Kind::Shade), 0);
    EXPECT_TRUE(line().startsWith(u"3 x 3 = 9 tiles, 0 already stored; about "))
        << line().toStdString();
    EXPECT_TRUE(line().endsWith(u" min to download")) << "the preview's rate";

    click("Command4");
    planned();
    EXPECT_EQ(tiles().size(), 9);
    EXPECT_EQ(marks(Kind::Shade), 9);
    EXPECT_TRUE(line().startsWith(u"3 x 3 = 9 tiles, 9 already stored; estimate was "))
        << line().toStdString();

    // Two tiles age past the refresh age: shaded apart, and offered for refreshing.
    const QDateTime old = QDateTime::currentDateTimeUtc().addDays(-40);
    for (const char* name :
         {"MyMaps/IDA_E_B46!00L9!00Z45.gif", "MyMaps/IDA_E_B48!00L11!00Z45.gif"}) {
        QFile gif(QString::fromLatin1(name));
        ASSERT_TRUE(gif.open(QIODevice::ReadWrite));
        ASSERT_TRUE(gif.setFileTime(old, QFileDevice::FileModificationTime));
    }
    drag({60, 60}, {250, 250});
    EXPECT_EQ(marks(Kind::SecondShade), 2);
    EXPECT_EQ(marks(Kind::Shade), 7);
    dialogs.questions.clear();
    dialogs.answers = {Answer::Other};
    requestsBefore = static_cast<int>(service.requests().size());
    click("Command4");
    ASSERT_EQ(dialogs.questions.size(), 1);
    EXPECT_TRUE(dialogs.questions[0].endsWith(
        u"2 of the stored tiles are older than 30 days: \"Refresh older\" asks for them again too "
        "and keeps each one the map service says is unchanged."));
    EXPECT_EQ(dialogs.others, QStringList{QStringLiteral("Refresh older")});
    EXPECT_EQ(tileCentres(), (QStringList{QStringLiteral("46/9"), QStringLiteral("48/11")}));
    EXPECT_GT(QFileInfo(QStringLiteral("MyMaps/IDA_E_B46!00L9!00Z45.gif")).lastModified(),
              old.addDays(1));
}

TEST_F(RegionPlanning, ARouteMakesTheRegionAlongItAndFollowsTheZoom)
{
    ASSERT_TRUE(load());
    QFile gpx(QStringLiteral("trip.gpx"));
    ASSERT_TRUE(gpx.open(QIODevice::WriteOnly));
    gpx.write("<gpx version=\"1.1\"><trk><trkseg><trkpt lat=\"47.2\" lon=\"9.2\"/>"
              "<trkpt lat=\"47.2\" lon=\"12.8\"/><trkpt lat=\"49.8\" lon=\"12.8\"/>"
              "</trkseg></trk></gpx>");
    gpx.close();
    // A bad file first: one message, no region.
    QFile(QStringLiteral("bad.gpx")).open(QIODevice::WriteOnly);
    dialogs.files = {QStringLiteral("bad.gpx"), QStringLiteral("trip.gpx")};
    type("Text5", QStringLiteral("45"));
    click("Command8");
    planned();
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_TRUE(dialogs.messages[0].startsWith(u"The route \"bad.gpx\" gives no region: "));
    EXPECT_FALSE(control("Command4")->isEnabled());
    click("Command8");
    planned();
    // Whole degrees from 47 to 50 north, 9 to 14 east: an L of tiles, not the whole box.
    EXPECT_TRUE(line().startsWith(u"5 x 4 = 8 tiles, 0 already stored")) << line().toStdString();
    EXPECT_TRUE(control("Command4")->isEnabled());
    EXPECT_TRUE(control("Text5")->isEnabled()) << "a route follows the zoom box";
    type("Text5", QStringLiteral("90"));
    planned();
    EXPECT_TRUE(line().startsWith(u"3 x 3 = 4 tiles")) << line().toStdString();
    type("Text5", QStringLiteral("45"));
    planned();
    dialogs.messages.clear();
    requestsBefore = static_cast<int>(service.requests().size());
    click("Command4");
    EXPECT_EQ(dialogs.messages.value(0),
              QStringLiteral("Starting download from  50, 9 to  47, 13. "
                             "This will make  8 images in this zoom mode!"));
    EXPECT_EQ(tileCentres().join(u' '),
              QStringLiteral("47/9 47/10 47/11 47/12 47/13 48/13 49/13 50/13"));
}

} // namespace
