// A real writer process killed with SIGKILL in the middle of a transfer: the tile folder holds
// the old tile or none, never a part, and the leftover goes at the next start of a writer.
#include "buildpaths.h"
#include "common/atomicfile.h"
#include "fakemapservice.h"
#include "gifmaker.h"
#include "pelagrin/requesturl.h"
#include "tempworkdir.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>

namespace {

using testsupport::FakeMapService;
using testsupport::FakeReply;
using testsupport::TempWorkDir;

// A whole GIF of about 800 KB: a small picture and a long comment.
QByteArray largeGif()
{
    QByteArray gif = testsupport::makeGif(16, 16);
    gif.chop(1); // the trailer
    gif += "\x21\xFE";
    for (int i = 0; i < 3200; ++i) {
        gif += '\xFF' + QByteArray(255, 'c');
    }
    gif += '\0';
    gif += '\x3B';
    return gif;
}

QStringList temporaries()
{
    QStringList out;
    for (const QString& name :
         QDir(QStringLiteral("mymaps")).entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        if (common::isTemporaryName(name)) {
            out.append(QStringLiteral("mymaps/") + name);
        }
    }
    return out;
}

struct KillCase {
    const char* name;
    const char* oldTile; // nullptr: the tile is new
};

class KilledFetch : public ::testing::TestWithParam<KillCase> {};

TEST_P(KilledFetch, LeavesTheOldTileOrNoneAndTheLeftoverGoesLater)
{
    TempWorkDir work;
    ASSERT_TRUE(QDir().mkdir(QStringLiteral("mymaps")));
    const QString target = QStringLiteral("mymaps/IDA_E_B48!50L11!25Z150.gif");
    if (GetParam().oldTile != nullptr) {
        TempWorkDir::write(target, GetParam().oldTile);
    }
    // Half the body at once, the rest long after the test has ended.
    const QByteArray body = largeGif();
    FakeMapService service(FakeReply::slow(body, 60'000));
    pelagrin::MapSettings settings;
    QProcess child;
    child.start(QString::fromStdString(testsupport::buildFile("tests/fetch_child")),
                {pelagrin::generateurl(settings, pelagrin::modeLarge, service.address()), target});
    ASSERT_TRUE(child.waitForStarted(5000));

    const bool halfArrived = QTest::qWaitFor(
        [&body] {
            const QStringList t = temporaries();
            return t.size() == 1 && QFileInfo(t.front()).size() >= body.size() / 4;
        },
        10'000);
    ASSERT_TRUE(halfArrived) << "the child never wrote the first half";
    EXPECT_EQ(common::removeStaleTemporaries(QStringLiteral("mymaps")), 0)
        << "a writer that still runs keeps its file";
    ASSERT_EQ(::kill(static_cast<pid_t>(child.processId()), SIGKILL), 0);
    ASSERT_TRUE(child.waitForFinished(5000));
    EXPECT_EQ(child.exitStatus(), QProcess::CrashExit);

    if (GetParam().oldTile != nullptr) {
        EXPECT_EQ(TempWorkDir::read(target), QByteArray(GetParam().oldTile));
    } else {
        EXPECT_FALSE(QFileInfo::exists(target));
    }
    EXPECT_EQ(QDir(QStringLiteral("mymaps")).entryList({QStringLiteral("*.gif")}).size(),
              GetParam().oldTile != nullptr ? 1 : 0);
    EXPECT_EQ(temporaries().size(), 1) << "what the kill left behind";
    EXPECT_EQ(common::removeStaleTemporaries(QStringLiteral("mymaps")), 1);
    EXPECT_TRUE(temporaries().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Tiles, KilledFetch,
                         ::testing::Values(KillCase{"NewTile", nullptr},
                                           KillCase{"ReplacedTile", "an earlier whole tile"}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
