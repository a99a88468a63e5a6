#include "pelagrin/filewriter.h"
#include "tempworkdir.h"

#include <QDir>
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
        writer.write(id, "first ");
        writer.write(id, "second");
    }
    std::optional<QString> goodError;
    std::optional<QString> badError;
    bool onOwnersThread = true;
    const auto ended = [&](std::optional<QString>& slot) {
        return [&](const QString& error) {
            onOwnersThread = onOwnersThread && QThread::currentThread() == qApp->thread();
            slot = error;
        };
    };
    writer.commit(good, ended(goodError));
    writer.commit(bad, ended(badError));
    ASSERT_TRUE(QTest::qWaitFor([&] { return goodError && badError; }, 5000));
    EXPECT_TRUE(onOwnersThread);
    EXPECT_TRUE(goodError->isEmpty());
    EXPECT_TRUE(badError->contains(u"missing/b.gif")) << badError->toStdString();
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
        writer.write(kept, "whole");
        writer.commit(kept, [](const QString&) {}); // its answer never comes: the writer ends
        const FileWriter::Id dropped = writer.open(QStringLiteral("old.gif"));
        writer.write(dropped, "half");
        writer.discard(dropped);
    }
    EXPECT_EQ(TempWorkDir::read(QStringLiteral("kept.gif")), QByteArray("whole"));
    EXPECT_EQ(TempWorkDir::read(QStringLiteral("old.gif")), QByteArray("old"));
    EXPECT_EQ(allFiles(), (QStringList{QStringLiteral("kept.gif"), QStringLiteral("old.gif")}));
}

} // namespace
