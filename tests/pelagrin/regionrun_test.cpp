#include "common/numvalue.h"
#include "fakemapservice.h"
#include "gifmaker.h"
#include "pelagrin/regionrun.h"
#include "tempworkdir.h"

#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

using namespace pelagrin;
using testsupport::FakeMapService;
using testsupport::FakeReply;
using testsupport::TempWorkDir;

// A region of zoom 45 (one degree between tiles) with map type 1, run into "mymaps".
class RegionRunTest : public ::testing::Test {
protected:
    RegionRunTest()
    {
        QDir().mkdir(QStringLiteral("mymaps"));
        settings.zoom = 45;
        settings.mapcode = mapcodeType1;
    }

    struct Outcome {
        qint64 stored = 0;
        std::optional<QString> failure;
    };

    // Runs the plan of tiles one degree apart at |latitudes| x |longitudes| (consecutive whole
    // degrees, or none) to its end.
    Outcome run(const std::vector<double>& latitudes, const std::vector<double>& longitudes,
                RetryPolicy retry = {2, 10}, int connections = 1)
    {
        settings.endlat = latitudes.empty() ? 1 : latitudes.front();
        settings.beginlat = latitudes.empty() ? 0 : latitudes.back();
        settings.beginlong = longitudes.empty() ? 1 : longitudes.front();
        settings.endlong = longitudes.empty() ? 0 : longitudes.back();
        auto plan = planRegion(settings, 1, 1, service.address(),
                               common::TileFolder(QStringLiteral("mymaps")));
        EXPECT_TRUE(plan.ok());
        RegionRun regionRun(fetcher, std::move(plan).value(), retry, connections);
        current = &regionRun;
        Outcome outcome;
        QObject::connect(&regionRun, &RegionRun::tileStored,
                         [this](const QString& path, qint64 count) {
                             stored.append(path);
                             counts.append(count);
                         });
        QObject::connect(&regionRun, &RegionRun::tileFailed,
                         [&outcome](const QString& text) { outcome.failure = text; });
        QSignalSpy finished(&regionRun, &RegionRun::finished);
        regionRun.start();
        EXPECT_TRUE(finished.wait(20'000));
        outcome.stored = regionRun.stored();
        current = nullptr;
        return outcome;
    }

    // The centres requested, as "lat/lon" before the shift.
    QStringList centres() const
    {
        QStringList out;
        for (const QString& query : service.decodedQueries()) {
            const QString cenp = query.section(QStringLiteral("CenP="), 1).section(u'&', 0, 0);
            out.append(QStringLiteral("%1/%2")
                           .arg(qRound(common::numvalue(cenp.section(u',', 0, 0))))
                           .arg(qRound(common::numvalue(cenp.section(u',', 1, 1)))));
        }
        return out;
    }

    // The tiles and anything else left in the folder, hidden files included, but not the
    // georeferencing written beside each tile.
    static QStringList files()
    {
        QStringList out;
        for (const QString& name :
             QDir(QStringLiteral("mymaps"))
                 .entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name)) {
            if (!name.endsWith(u".gfw") && !name.endsWith(u".gif.aux.xml")) {
                out.append(name);
            }
        }
        return out;
    }

    TempWorkDir work;
    FakeMapService service;
    Fetcher fetcher{2000};
    MapSettings settings;
    RegionRun* current = nullptr; // the run under way, for the tests that stop it
    QStringList stored;
    QList<qint64> counts;
};

TEST_F(RegionRunTest, FetchesRowsFromTheFirstLatitudeWestToEast)
{
    const auto result = run({47, 48}, {-31, -30, -29});
    EXPECT_EQ(result.stored, 6);
    EXPECT_FALSE(result.failure);
    EXPECT_EQ(centres(), (QStringList{"47/-31", "47/-30", "47/-29", "48/-31", "48/-30", "48/-29"}));
    // The map code follows each tile's longitude; -30 shifted lies east of -30.
    EXPECT_EQ(stored.front(), QStringLiteral("mymaps/IDA_U_B47!00L-30!99Z45.gif"));
    EXPECT_EQ(stored[1], QStringLiteral("mymaps/IDA_E_B47!00L-29!99Z45.gif"));
    EXPECT_EQ(counts, (QList<qint64>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(files().size(), 6);
}

struct RunFailureCase {
    const char* name;
    std::vector<FakeReply> replies; // answers to the first requests, then whole tiles
    qint64 stored;
    int requests;
    const char* failurePart; // nullptr: no failure
};

class RegionRunFailures : public RegionRunTest,
                          public ::testing::WithParamInterface<RunFailureCase> {};

TEST_P(RegionRunFailures, CountOnlyStoredTilesAndRetryOnlyPassingFailures)
{
    for (const FakeReply& reply : GetParam().replies) {
        service.enqueue(reply);
    }
    const auto result = run({47}, {9, 10, 11});
    EXPECT_EQ(result.stored, GetParam().stored);
    EXPECT_EQ(service.requests().size(), GetParam().requests);
    EXPECT_EQ(files().size(), GetParam().stored) << "no part and no temporary stays";
    if (GetParam().failurePart == nullptr) {
        EXPECT_FALSE(result.failure);
    } else {
        ASSERT_TRUE(result.failure);
        EXPECT_TRUE(result.failure->contains(QString::fromLatin1(GetParam().failurePart)))
            << result.failure->toStdString();
        EXPECT_TRUE(result.failure->contains(u"mymaps/IDA_E_B47!00L10!00Z45.gif"));
    }
}

const QByteArray tile = testsupport::makeFlatGif(1999, 1999);

INSTANTIATE_TEST_SUITE_P(
    Replies, RegionRunFailures,
    ::testing::Values(RunFailureCase{"TwoPassingFailuresAreRetried",
                                     {FakeReply::bytes(tile), FakeReply::error(503),
                                      FakeReply::cutShort(tile)},
                                     3,
                                     5,
                                     nullptr},
                      RunFailureCase{"AThirdFailureStopsTheRun",
                                     {FakeReply::bytes(tile), FakeReply::error(503),
                                      FakeReply::error(500), FakeReply::error(502)},
                                     1,
                                     4,
                                     "HTTP 502"},
                      RunFailureCase{"AClientErrorIsNotRetried",
                                     {FakeReply::bytes(tile), FakeReply::error(404)},
                                     1,
                                     2,
                                     "HTTP 404"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RegionRunTest, StopIsReadBeforeEachTile)
{
    service.onRequest = [this](int n) {
        if (n == 2) {
            current->stop();
        }
    };
    const auto result = run({47, 48}, {9, 10, 11});
    EXPECT_EQ(result.stored, 2) << "the tile in flight is completed";
    EXPECT_EQ(service.requests().size(), 2);
    EXPECT_FALSE(result.failure);
}

TEST_F(RegionRunTest, StopDuringAFailingTileEndsWithoutItsRetries)
{
    service.enqueue(FakeReply::error(503));
    service.onRequest = [this](int) { current->stop(); };
    // Pauses longer than the test may run: a retry would be waited for.
    const auto result = run({47}, {9, 10}, {2, 600'000});
    EXPECT_EQ(service.requests().size(), 1);
    EXPECT_EQ(result.stored, 0);
    ASSERT_TRUE(result.failure) << "the user learns that the tile in flight is missing";
}

TEST_F(RegionRunTest, StopDuringARetryPauseEndsBeforeTheRetry)
{
    service.enqueue(FakeReply::error(503));
    service.onRequest = [this](int) { QTimer::singleShot(20, [this] { current->stop(); }); };
    const auto result = run({47}, {9, 10}, {2, 200});
    EXPECT_EQ(service.requests().size(), 1);
    EXPECT_EQ(result.stored, 0);
}

// Plan positions of the requests as they arrived: row by row from 47, columns from 9.
QList<int> arrivalPositions(const QStringList& centres)
{
    QList<int> out;
    for (const QString& centre : centres) {
        out.append((centre.section(u'/', 0, 0).toInt() - 47) * 4 +
                   centre.section(u'/', 1, 1).toInt() - 9);
    }
    return out;
}

class ParallelRun : public RegionRunTest, public ::testing::WithParamInterface<int> {};

TEST_P(ParallelRun, StartsInPlanOrderWithAtMostNInFlight)
{
    const int n = GetParam();
    // Half a body at once and the rest later, so that transfers overlap.
    service.setDefault(FakeReply::slow(testsupport::makeFlatGif(1999, 1999), 40));
    const auto result = run({47, 48, 49}, {9, 10, 11, 12}, {2, 10}, n);
    EXPECT_EQ(result.stored, 12);
    EXPECT_FALSE(result.failure);
    EXPECT_EQ(files().size(), 12);
    const QList<int> positions = arrivalPositions(centres());
    ASSERT_EQ(positions.size(), 12);
    for (int k = 0; k < positions.size(); ++k) {
        // The k-th request to arrive was started no later than n - 1 places after its turn.
        EXPECT_LE(positions[k], k + n - 1) << "arrival " << k;
    }
    EXPECT_EQ(counts, (QList<qint64>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
    EXPECT_LE(service.mostInFlight(), n);
    if (n > 1) {
        EXPECT_GE(service.connectionCount(), 2);
        EXPECT_GE(service.mostInFlight(), 2) << "the transfers overlap";
    }
}

INSTANTIATE_TEST_SUITE_P(Connections, ParallelRun, ::testing::Values(1, 2, 4, 6));

TEST_F(RegionRunTest, StopWithTilesInFlightCompletesThemAndStartsNoMore)
{
    service.setDefault(FakeReply::slow(testsupport::makeFlatGif(1999, 1999), 20));
    service.onRequest = [this](int n) {
        if (n == 3) {
            current->stop();
        }
    };
    const auto result = run({47, 48}, {9, 10, 11, 12}, {2, 10}, 3);
    EXPECT_EQ(service.requests().size(), 3);
    EXPECT_EQ(result.stored, 3) << "the three in flight are completed";
    EXPECT_FALSE(result.failure);
    EXPECT_EQ(files().size(), 3);
}

TEST_F(RegionRunTest, AFailingTileAmongParallelOnesStopsTheRunAfterTheOthers)
{
    service.setDefault(FakeReply::slow(testsupport::makeFlatGif(1999, 1999), 20));
    service.enqueue(FakeReply::slow(testsupport::makeFlatGif(1999, 1999), 20));
    service.enqueue(FakeReply::error(404)); // the second tile: 47/10
    const auto result = run({47, 48}, {9, 10, 11, 12}, {2, 10}, 2);
    ASSERT_TRUE(result.failure);
    EXPECT_TRUE(result.failure->contains(u"mymaps/IDA_E_B47!00L10!00Z45.gif"));
    EXPECT_TRUE(result.failure->contains(u"HTTP 404"));
    EXPECT_LE(service.requests().size(), 3) << "nothing starts after the failure";
    EXPECT_EQ(result.stored, service.requests().size() - 1);
    EXPECT_EQ(files().size(), result.stored) << "no part of the failed tile remains";
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("mymaps/IDA_E_B47!00L10!00Z45.gif")));
}

TEST_F(RegionRunTest, APausedRetryDoesNotHoldUpTheOtherConnection)
{
    service.enqueue(FakeReply::error(503)); // the first tile fails once
    const auto result = run({47}, {9, 10, 11, 12}, {2, 300}, 2);
    EXPECT_EQ(result.stored, 4);
    EXPECT_EQ(service.requests().size(), 5);
    // During the first tile's pause the other connection fetched the three others.
    EXPECT_EQ(arrivalPositions(centres()).last(), 0) << "the retry came last";
}

TEST_F(RegionRunTest, AnEmptyPlanFetchesNothing)
{
    const auto result = run({}, {9, 10});
    EXPECT_EQ(result.stored, 0);
    EXPECT_TRUE(service.requests().isEmpty());
}

} // namespace
