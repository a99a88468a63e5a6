#include "buildpaths.h"
#include "common/numvalue.h"
#include "common/worldfile.h"
#include "gifmaker.h"
#include "pelagrin/corners.h"
#include "pelagrin/messages.h"
#include "pelagrin/picturepoint.h"
#include "pelagrin/region.h"
#include "tempworkdir.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

#include <gtest/gtest.h>

namespace {

using namespace pelagrin;

struct LoopCase {
    double start;
    double bound;
    double step;
    std::size_t count;
};

class CountingLoop : public ::testing::TestWithParam<LoopCase> {};

TEST_P(CountingLoop, VisitsWhatRepeatedAdditionReaches)
{
    const auto values = loopValues(GetParam().start, GetParam().bound, GetParam().step);
    ASSERT_TRUE(values.has_value());
    EXPECT_EQ(values->size(), GetParam().count);
    if (!values->empty()) {
        EXPECT_EQ(values->front(), GetParam().start);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Loops, CountingLoop,
    ::testing::Values(LoopCase{47, 48, 1, 2}, LoopCase{9, 11, 1, 3},
                      // 0.1 + 0.1 + 0.1 is just above 0.3, so the bound is missed ...
                      LoopCase{0, 0.3, 0.1, 3},
                      // ... while ten additions of 0.1 stay just below 1 and reach it.
                      LoopCase{0, 1, 0.1, 11},
                      // Reversed corners with a positive step run zero times.
                      LoopCase{48, 47, 1, 0}, LoopCase{11, 9, 1, 0},
                      // A negative step runs while the counter is at least the bound.
                      LoopCase{48, 47, -1, 2}, LoopCase{47, 48, -1, 0}, LoopCase{5, 5, 1, 1}));

TEST(CountingLoop, EndlessOrHugeLoopsAreRefused)
{
    EXPECT_FALSE(loopValues(0, 1, 0).has_value());
    EXPECT_FALSE(loopValues(0, 10, 1e-6).has_value());
    EXPECT_TRUE(loopValues(0, 1, 0, 5) == std::nullopt);
}

struct PlanCase {
    const char* name;
    const char* mapcode;
    double beginlat, beginlong, endlat, endlong;
    double step;
    const char* centres; // "lat/lon" of every job before the shift, in plan order
    const char* letters; // the map letter of every job's name and request
};

class RegionPlanTable : public ::testing::TestWithParam<PlanCase> {};

TEST_P(RegionPlanTable, JobsInRowOrderWithTheMapCodeCarriedOn)
{
    const PlanCase c = GetParam();
    MapSettings s;
    s.zoom = 45 * c.step;
    s.mapcode = QString::fromLatin1(c.mapcode);
    s.beginlat = c.beginlat;
    s.beginlong = c.beginlong;
    s.endlat = c.endlat;
    s.endlong = c.endlong;
    const auto plan = planRegion(s, c.step, c.step, QStringLiteral("host:1"),
                                 common::TileFolder(QStringLiteral("mymaps")));
    ASSERT_TRUE(plan.ok());
    QStringList centres;
    QString letters;
    for (qint64 i = 0; i < plan->tilecount(); ++i) {
        const TileJob job = plan->job(i);
        EXPECT_EQ(job.position, i);
        centres.append(QStringLiteral("%1/%2")
                           .arg(qRound(job.centre.latitude - centreShift))
                           .arg(qRound(job.centre.longitude - centreShift)));
        letters.append(job.mapcode.front());
        EXPECT_TRUE(job.path.startsWith(QStringLiteral("mymaps/IDA_") + job.mapcode.front()));
        EXPECT_TRUE(job.url.contains(QStringLiteral("&Lang=%1&").arg(job.mapcode)));
    }
    EXPECT_EQ(centres.join(u' '), QString::fromLatin1(c.centres));
    EXPECT_EQ(letters, QString::fromLatin1(c.letters));
}

INSTANTIATE_TEST_SUITE_P(
    Plans, RegionPlanTable,
    ::testing::Values(
        PlanCase{"RowsFromTheEndLatitude", "EUR0407", 48, 9, 47, 11, 1,
                 "47/9 47/10 47/11 48/9 48/10 48/11", "EEEEEE"},
        // West of -150 the code stays; once a tile has turned it American, the next row's
        // western tiles keep it.
        PlanCase{"AmericaCarriesIntoTheNextRow", "EUR0407", 10, -160, 0, -140, 10,
                 "0/-160 0/-150 0/-140 10/-160 10/-150 10/-140", "EUUUUU"},
        // The shifted -30 lies east of -30: back to map type 1, and the next row starts so.
        PlanCase{"BackEastOfMinus30", "EUR0407", 10, -40, 0, -20, 10,
                 "0/-40 0/-30 0/-20 10/-40 10/-30 10/-20", "UEEUEE"},
        PlanCase{"MapType2NeverChanges", "WLD0407", 0, -160, 0, -20, 70, "0/-160 0/-90 0/-20",
                 "WWW"},
        PlanCase{"ReversedCornersPlanNothing", "EUR0407", 47, 11, 48, 9, 1, "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RegionPlan, AHugeAxisIsRefused)
{
    MapSettings s;
    s.endlong = 10;
    EXPECT_FALSE(planRegion(s, 1, 1e-6, QStringLiteral("host:1"),
                            common::TileFolder(QStringLiteral("mymaps")))
                     .ok());
}

TEST(RegionTexts, ToTheCharacter)
{
    MapSettings s;
    s.beginlat = 48;
    s.beginlong = 9;
    s.endlat = 47;
    s.endlong = 11;
    EXPECT_EQ(regionStartMessage(s, 6),
              QStringLiteral("Starting download from  48, 9 to  47, 11. This will make  6 images "
                             "in this zoom mode!"));
    EXPECT_EQ(regionProgressText(3, 6), QStringLiteral(" 3  50% of  6 images total"));
    EXPECT_EQ(regionProgressText(1, 3), QStringLiteral(" 1  33.3% of  3 images total"));
    EXPECT_EQ(regionProgressText(6, 6), QStringLiteral(" 6  100% of  6 images total"));
    EXPECT_EQ(regionProgressText(5000000000LL, 6000000000LL),
              QStringLiteral(" 5000000000  83.3% of  6000000000 images total"));
    EXPECT_EQ(regionReadyMessage(0),
              QStringLiteral("Ready.  0 images have been downloaded for you"));
}

TEST(RegionSteps, DivisorsFollowTheLocaleAndStepsMustBeUsable)
{
    EXPECT_EQ(localeDivisor(QStringLiteral("45"), QLocale::c()), 45.0);
    EXPECT_EQ(localeDivisor(QStringLiteral(" 22.5 "), QLocale::c()), 22.5);
    EXPECT_EQ(localeDivisor(QStringLiteral("0,5"), QLocale(QLocale::German)), 0.5);
    EXPECT_FALSE(localeDivisor(QStringLiteral("4x"), QLocale::c()).has_value());
    EXPECT_FALSE(localeDivisor(QString(), QLocale::c()).has_value());
    EXPECT_TRUE(usableStep(1));
    EXPECT_TRUE(usableStep(-0.5));
    EXPECT_FALSE(usableStep(0));
    EXPECT_FALSE(usableStep(45.0 / 0.0));
    EXPECT_FALSE(usableStep(std::numeric_limits<double>::quiet_NaN()));
}

TEST(RegionResume, ATileCountsAsPresentOnlyWholeAndWithItsSideFiles)
{
    testsupport::TempWorkDir work;
    QDir().mkdir(QStringLiteral("mymaps"));
    MapSettings s;
    s.zoom = 45;
    s.beginlat = s.endlat = 47;
    s.beginlong = 9;
    s.endlong = 12;
    const auto plan =
        planRegion(s, 1, 1, QStringLiteral("host:1"), common::TileFolder(QStringLiteral("mymaps")));
    ASSERT_TRUE(plan.ok());
    ASSERT_EQ(plan->tilecount(), 4);
    EXPECT_EQ(missingTiles(*plan), (std::vector<qint64>{0, 1, 2, 3}));
    const QByteArray gif = testsupport::makeGif(40, 40);
    for (qint64 i = 0; i < 4; ++i) {
        const QString path = plan->job(i).path;
        // 0 whole, 1 cut short, 2 without its world file, 3 without its .aux.xml.
        testsupport::TempWorkDir::write(path, i == 1 ? gif.left(gif.size() - 1) : gif);
        if (i != 2) {
            testsupport::TempWorkDir::write(common::worldFilePath(path), "1\n0\n0\n-1\n0\n0\n");
        }
        if (i != 3) {
            testsupport::TempWorkDir::write(common::auxFilePath(path), "<PAMDataset/>");
        }
    }
    EXPECT_EQ(missingTiles(*plan), (std::vector<qint64>{1, 2, 3}));
}

TEST(ClickToCentre, PixelCentresAtBothSizesWrappedAndClamped)
{
    struct Case {
        FetchedPicture picture;
        double x, y, shown; // the point and the shown side
        const char* latitude;
        const char* longitude;
    };
    for (const Case& c : {
             // The middle pixel of 320 (159.5 from the centre is pixel 160's centre).
             Case{{{0, 0}, 45, 320}, 160, 160, 320, "-0.000250", "0.000250"},
             Case{{{47.5, 9.25}, 45, 320}, 0, 0, 320, "47.579790", "9.170210"},
             // The shrunk Preview: a point of a 500-pixel view is pixel 3.998 times further.
             Case{{{0, 0}, 45, 1999}, 250, 250, 500, "0.000000", "0.000000"},
             Case{{{0, 0}, 45, 1999}, 0, 499.9, 500, "-0.499750", "-0.499750"},
             // Across 180 degrees and past the pole.
             Case{{{0, 179.9}, 45, 1999}, 499, 250, 500, "0.000000", "-179.601751"},
             Case{{{89.8, 0}, 45, 1999}, 250, 0, 500, "90.000000", "0.000000"},
         }) {
        const common::Centre at = pointOnPicture(c.picture, c.x, c.y, c.shown, c.shown);
        EXPECT_EQ(pointText(at.latitude), QString::fromLatin1(c.latitude)) << c.x << " " << c.y;
        EXPECT_EQ(pointText(at.longitude), QString::fromLatin1(c.longitude)) << c.x << " " << c.y;
    }
}

} // namespace

namespace {

// The rectangles the service's map page draws, in the table its own test reads too: the corners
// as the centre boxes take them (six decimals, the longitudes of the picture's world) and the
// region's grid.
TEST(RegionOfARectangle, MatchesWhatTheMapPageCounts)
{
    QFile file(QString::fromStdString(testsupport::testData("region/rectangles.json")));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QJsonArray rows = QJsonDocument::fromJson(file.readAll()).array();
    ASSERT_GE(rows.size(), 8);
    for (const QJsonValue& value : rows) {
        const QJsonObject r = value.toObject();
        const double zoom = r["zoom"].toDouble();
        const auto corner = [zoom](double v) {
            return pelagrin::cornerValue(common::numvalue(pelagrin::pointText(v)), zoom);
        };
        double west = std::fmod(r["west"].toDouble() + 180, 360);
        west += west < 0 ? 180 : -180;
        const double east = west + (r["east"].toDouble() - r["west"].toDouble());
        const auto latitudes = pelagrin::loopValues(corner(r["south"].toDouble()),
                                                    corner(r["north"].toDouble()), zoom / 45);
        const auto longitudes = pelagrin::loopValues(corner(west), corner(east), zoom / 45);
        const std::string about = r["about"].toString().toStdString();
        ASSERT_TRUE(latitudes && longitudes) << about;
        EXPECT_EQ(static_cast<int>(latitudes->size()), r["rows"].toInt()) << about;
        EXPECT_EQ(static_cast<int>(longitudes->size()), r["columns"].toInt()) << about;
    }
}

} // namespace
