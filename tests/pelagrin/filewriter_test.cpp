#include "durablecallsrecorder.h"
#include "pelagrin/filewriter.h"
#include "tempworkdir.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <optional>

namespace {

using pelagrin::FileWriter;
using testsupport::TempWorkDir;

QStringList allFiles()
{
    return QDir().entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

TEST(FileWriter, AnswersOnTheOwnersThreadOnceTheFileIsInPlace)
{
    TempWorkDir work;
    FileWriter writer;
    const FileWriter::Id good = writer.open(QStringLiteral("a.gif"));
    const FileWriter::Id bad = writer.open(QStringLiteral("missing/b.gif"));
    for (const FileWriter::Id id : {good, bad}) {
        writer.write(id, {"first ", "sec"});
        writer.write(id, {"ond"});
    }
    std::optional<common::Status> goodEnd;
    std::optional<common::Status> badEnd;
    bool onOwnersThread = true;
    const auto ended = [&](std::optional<common::Status>& slot) {
        return [&](const common::Status& written, const common::Status&) {
            onOwnersThread = onOwnersThread && QThread::currentThread() == qApp->thread();
            slot = written;
        };
    };
    writer.commit(good, ended(goodEnd));
    writer.commit(bad, ended(badEnd));
    ASSERT_TRUE(QTest::qWaitFor([&] { return goodEnd && badEnd; }, 5000));
    EXPECT_TRUE(onOwnersThread);
    EXPECT_TRUE(goodEnd->ok());
    ASSERT_FALSE(badEnd->ok());
    EXPECT_NE(badEnd->error().text.find("missing/b.gif"), std::string::npos);
    EXPECT_EQ(TempWorkDir::read(QStringLiteral("a.gif")), QByteArray("first second"));
    EXPECT_EQ(allFiles(), QStringList{QStringLiteral("a.gif")});
}

TEST(FileWriter, WorkAskedForBeforeTheEndIsDoneAndADiscardLeavesNothing)
{
    TempWorkDir work;
    TempWorkDir::write(QStringLiteral("old.gif"), "old");
    {
        FileWriter writer;
        const FileWriter::Id kept = writer.open(QStringLiteral("kept.gif"));
        writer.write(kept, {"whole"});
        writer.commit(kept, [](const common::Status&, const common::Status&) {
        }); // no answer comes: the writer ends
        const FileWriter::Id dropped = writer.open(QStringLiteral("old.gif"));
        writer.write(dropped, {"half"});
        writer.discard(dropped);
    }
    EXPECT_EQ(TempWorkDir::read(QStringLiteral("kept.gif")), QByteArray("whole"));
    EXPECT_EQ(TempWorkDir::read(QStringLiteral("old.gif")), QByteArray("old"));
    EXPECT_EQ(allFiles(), (QStringList{QStringLiteral("kept.gif"), QStringLiteral("old.gif")}));
}

// 33 tiles, each with its world file: the first 32 go to the disk as one group, the last one
// after the group's wait, and a flush sends a group at once.
TEST(FileWriter, GroupsTilesByCountOrTime)
{
    TempWorkDir work;
    testsupport::DurableCallsRecorder calls;
    FileWriter writer(calls);
    int ended = 0;
    for (int i = 0; i < 33; ++i) {
        const QString name = QStringLiteral("t%1.gif").arg(i);
        calls.watched.append(name);
        const FileWriter::Id id = writer.open(name);
        writer.write(id, {"tile"});
        writer.commit(
            id,
            [&](const common::Status& written, const common::Status&) { ended += written ? 1 : 0; },
            {{QStringLiteral("t%1.gfw").arg(i), "world"}});
    }
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return ended == 32; }, 5000));
    QStringList expected{QStringLiteral("sync")};
    for (int i = 0; i < 32; ++i) {
        expected << QStringLiteral("rename t%1.gif").arg(i)
                 << QStringLiteral("rename t%1.gfw").arg(i);
    }
    expected << QStringLiteral("sync folder .");
    EXPECT_EQ(calls.calls(), expected);
    EXPECT_EQ(calls.presentAtSync().front(), QStringList{}) << "no tile named before the sync";
    ASSERT_TRUE(QTest::qWaitFor([&] { return ended == 33; }, 5000));
    EXPECT_GE(clock.elapsed(), FileWriter::maxGroupWait.count() * 8 / 10);
    EXPECT_EQ(calls.calls().count(QStringLiteral("sync")), 2);

    const FileWriter::Id last = writer.open(QStringLiteral("last.gif"));
    writer.commit(last, [&](const common::Status&, const common::Status&) { ++ended; });
    writer.flush();
    clock.restart();
    ASSERT_TRUE(QTest::qWaitFor([&] { return ended == 34; }, 5000));
    EXPECT_LT(clock.elapsed(), FileWriter::maxGroupWait.count()) << "flushed without waiting";
}

} // namespace
