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

} // namespace
