#include "common/atomicfile.h"
#include "common/groupcommit.h"
#include "leftovers.h"
#include "tempworkdir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <functional>
#include <memory>
#include <sys/file.h>
#include <unistd.h>

namespace {

using common::AtomicFile;
using testsupport::endedProcessId;
using testsupport::temporaryNameOf;
using testsupport::TempWorkDir;

QStringList hiddenFiles(const QString& folder = QStringLiteral("."))
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

TEST(AtomicFile, ANewFileHasNoNameUntilItIsWhole)
{
    TempWorkDir work;
    {
        AtomicFile file(QStringLiteral("tile.gif"));
        file.open();
        file.write("first half ");
        ASSERT_TRUE(file.ok());
        EXPECT_FALSE(QFileInfo::exists(QStringLiteral("tile.gif")));
        const QStringList during = hiddenFiles();
        ASSERT_EQ(during.size(), 1);
        EXPECT_TRUE(common::isTemporaryName(during.front())) << during.front().toStdString();
        file.write("second half");
        ASSERT_TRUE(file.commit().ok());
    }
    EXPECT_EQ(TempWorkDir::read(QStringLiteral("tile.gif")), QByteArray("first half second half"));
    EXPECT_EQ(hiddenFiles(), QStringList{QStringLiteral("tile.gif")});
}

TEST(AtomicFile, AnUnfinishedWriteLeavesTheOldFileOrNothing)
{
    TempWorkDir work;
    TempWorkDir::write(QStringLiteral("old.gif"), "old content");
    for (const QString& name : {QStringLiteral("old.gif"), QStringLiteral("new.gif")}) {
        AtomicFile file(name);
        file.open();
        file.write("partial");
        ASSERT_TRUE(file.ok());
    } // destroyed without commit
    EXPECT_EQ(hiddenFiles(), QStringList{QStringLiteral("old.gif")});
    EXPECT_EQ(TempWorkDir::read(QStringLiteral("old.gif")), QByteArray("old content"));
}

TEST(AtomicFile, TemporaryNamesHaveOneLengthWhateverTheTarget)
{
    TempWorkDir work;
    // 255 characters: the longest name the file system takes.
    const QString longest = QString(251, u'x') + QStringLiteral(".gif");
    for (const QString& name : {QStringLiteral("a.gif"), longest}) {
        AtomicFile file(name);
        file.open();
        ASSERT_TRUE(file.ok()) << file.errorString().toStdString();
        const QStringList during = hiddenFiles();
        ASSERT_EQ(during.size(), 1 + (name == longest ? 1 : 0));
        for (const QString& entry : during) {
            if (entry.startsWith(u'.')) {
                EXPECT_EQ(entry.size(), 23);
            }
        }
        file.write("x");
        EXPECT_TRUE(file.commit().ok());
    }
    EXPECT_TRUE(QFileInfo::exists(longest));
}

TEST(AtomicFile, AFailureIsStickyAndCommitReportsIt)
{
    TempWorkDir work;
    AtomicFile file(QStringLiteral("missing/tile.gif"));
    file.open();
    EXPECT_FALSE(file.ok());
    file.write("bytes"); // nothing happens after the failure
    EXPECT_FALSE(file.ok());
    EXPECT_FALSE(file.commit().ok());
    EXPECT_EQ(hiddenFiles(), QStringList());
}

// A file replaced keeps its permissions, whether written alone or in a group commit; a new
// file gets the usual ones.
TEST(AtomicFile, ReplacingKeepsThePermissions)
{
    const std::function<bool(const QString&)> writers[] = {
        [](const QString& name) { return common::writeFileAtomically(name, "new").ok(); },
        [](const QString& name) {
            common::GroupCommit group;
            auto file = std::make_unique<common::WholeFile>(name.toStdString());
            file->open();
            file->write("new", 3);
            bool placed = false;
            group.add(std::move(file), {}, [&placed](const common::Status& status, const auto&) {
                placed = status.ok();
            });
            group.commit();
            return placed;
        },
    };
    constexpr int ownerGroupOther = 0x7077;
    const auto mode = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup;
    for (const auto& write : writers) {
        TempWorkDir work;
        TempWorkDir::write(QStringLiteral("a.map"), "old");
        ASSERT_TRUE(QFile::setPermissions(QStringLiteral("a.map"), mode));
        ASSERT_TRUE(write(QStringLiteral("a.map")));
        ASSERT_TRUE(write(QStringLiteral("b.map")));
        EXPECT_EQ(QFile::permissions(QStringLiteral("a.map")) & ownerGroupOther,
                  mode & ownerGroupOther);
        EXPECT_EQ(TempWorkDir::read(QStringLiteral("a.map")), QByteArray("new"));
        EXPECT_TRUE(QFile::permissions(QStringLiteral("b.map")) & QFileDevice::WriteOwner);
        EXPECT_EQ(hiddenFiles(), QStringList({QStringLiteral("a.map"), QStringLiteral("b.map")}));
    }
}

TEST(AtomicFile, FailureNamesTheFileAndLeavesNothing)
{
    TempWorkDir work;
    ASSERT_TRUE(QDir().mkdir(QStringLiteral("taken.gif"))); // a folder where the file should go
    const common::Status replaced =
        common::writeFileAtomically(QStringLiteral("taken.gif"), "bytes");
    ASSERT_FALSE(replaced.ok()) << "replacing a folder must fail";
    EXPECT_NE(replaced.error().text.find("taken.gif"), std::string::npos) << replaced.error().text;
    EXPECT_FALSE(common::writeFileAtomically(QStringLiteral("missing/a.gif"), "x").ok());
    EXPECT_EQ(hiddenFiles(), QStringList());
}

TEST(StaleTemporaries, OnlyThoseOfWritersThatNoLongerRunAreRemoved)
{
    TempWorkDir work;
    const pid_t ended = endedProcessId();
    const QString stale = temporaryNameOf(ended);
    const QString lockedStale = temporaryNameOf(ended, 8); // held by a writer we cannot see
    const QString ours = temporaryNameOf(::getpid());
    const QString running = temporaryNameOf(1); // init runs as long as the machine does
    const QStringList others = {QStringLiteral(".~0000zzzz-00000001.tmp"),
                                QStringLiteral(".~1-2.tmp"), QStringLiteral("x.tmp"),
                                QStringLiteral("IDA_E_B48L9Z45.gif")};
    // What another library wrote beside a temporary name: its lock is on the name itself.
    const QString staleCompanion = stale + QStringLiteral(".out.ovr.tmp");
    const QString lockedCompanion = lockedStale + QStringLiteral(".out");
    for (const QString& name :
         QStringList{stale, staleCompanion, lockedStale, lockedCompanion, ours, running} + others) {
        TempWorkDir::write(name, "leftover");
    }
    const int lock = ::open(QFile::encodeName(lockedStale).constData(), O_RDONLY);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(::flock(lock, LOCK_EX), 0);

    EXPECT_EQ(common::removeStaleTemporaries(QStringLiteral(".")), 2);
    EXPECT_FALSE(QFileInfo::exists(stale));
    EXPECT_FALSE(QFileInfo::exists(staleCompanion));
    for (const QString& kept : QStringList{lockedStale, lockedCompanion, ours, running} + others) {
        EXPECT_TRUE(QFileInfo::exists(kept)) << kept.toStdString();
    }
    ::close(lock);
    EXPECT_EQ(common::removeStaleTemporaries(QStringLiteral(".")), 2) << "the lock is gone";
}

TEST(StaleTemporaries, AnOpenWriterOfThisProcessIsNeverDisturbed)
{
    TempWorkDir work;
    AtomicFile file(QStringLiteral("tile.gif"));
    file.open();
    file.write("arriving");
    ASSERT_TRUE(file.ok());
    EXPECT_EQ(common::removeStaleTemporaries(QStringLiteral(".")), 0);
    ASSERT_TRUE(file.commit().ok());
    EXPECT_EQ(TempWorkDir::read(QStringLiteral("tile.gif")), QByteArray("arriving"));
}

// What a library wrote beside the locked temporary takes the target's place whole, or nothing
// changes; either way nothing hidden is left.
TEST(WholeFile, AFileAnotherLibraryWroteTakesThePlaceOnlyWhenItIsThere)
{
    struct Case {
        bool written;
        QByteArray target;
    };
    for (const Case& c : {Case{true, "new"}, Case{false, "old"}}) {
        TempWorkDir work;
        TempWorkDir::write(QStringLiteral("export.tif"), "old");
        common::WholeFile file("export.tif");
        file.open();
        const std::string companion = file.companion(".out");
        if (c.written) {
            TempWorkDir::write(QString::fromStdString(companion), "new");
        }
        EXPECT_EQ(hiddenFiles().size(), c.written ? 3 : 2) << "the temporary is held meanwhile";
        EXPECT_EQ(file.commitFrom(companion).ok(), c.written);
        EXPECT_EQ(TempWorkDir::read(QStringLiteral("export.tif")), c.target);
        EXPECT_EQ(hiddenFiles(), QStringList{QStringLiteral("export.tif")});
    }
}

TEST(WholeFile, ARestartDropsWhatWasWritten)
{
    TempWorkDir work;
    common::WholeFile file("tile", common::WholeFile::Durability::Unsynced);
    file.open();
    file.write("first answer, cut short", 23);
    file.restart();
    file.write("second", 6);
    ASSERT_TRUE(file.commit().ok());
    EXPECT_EQ(TempWorkDir::read(QStringLiteral("tile")), QByteArray("second"));
}

TEST(FolderWriteError, TellsWhyAFolderCannotTakeFiles)
{
    TempWorkDir work;
    EXPECT_TRUE(common::folderWritable(QStringLiteral(".")).ok());
    EXPECT_FALSE(common::folderWritable(QStringLiteral("missing")).ok());
    EXPECT_EQ(hiddenFiles(), QStringList());
}

} // namespace

namespace {

TEST(TemporaryNames, AreToldFromEveryOtherName)
{
    const struct {
        const char* name;
        bool temporary;
    } cases[] = {
        {".~0000abcd-00000001.tmp", true},
        {".~0000abcd-00000001.tmp.ovr.tmp", true}, // a companion
        {".~0000abcd-00000001.tmp-journal", true},
        {".~0000ABCD-00000001.tmp", false},
        {".~0000abc-00000001.tmp", false},
        {".~0000abcd-0000001.tmp", false},
        {".~0000abcd_00000001.tmp", false},
        {".~0000abcd-00000001.tm", false},
        {"x.~0000abcd-00000001.tmp", false},
        {"~0000abcd-00000001.tmp", false},
        {"IDA_E_B48!00L10!00Z45.gif", false},
        {"", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(common::isTemporaryName(std::string_view(c.name)), c.temporary) << c.name;
    }
}

} // namespace
