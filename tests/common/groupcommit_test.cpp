#include "common/groupcommit.h"
#include "durablecallsrecorder.h"
#include "tempworkdir.h"

#include <QDir>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using common::GroupCommit;
using common::Status;
using common::WholeFile;
using testsupport::DurableCallsRecorder;
using testsupport::TempWorkDir;

std::unique_ptr<WholeFile> written(const std::string& target, const std::string& bytes)
{
    auto file = std::make_unique<WholeFile>(target);
    file->open();
    file->write(bytes.data(), bytes.size());
    return file;
}

// How each set of a group ended: "placed" or the reason, for the main file and each beside.
struct Outcome {
    std::vector<std::string> main;
    std::vector<std::vector<std::string>> beside;
};

std::string said(const Status& status)
{
    return status ? std::string("placed") : status.error().text;
}

// Commits the tiles a and b, each with its world file, into the folder "maps" (a's world file
// is written to a folder that does not exist when |besideFails|).
Outcome commitTwoTiles(DurableCallsRecorder& calls, bool besideFails = false)
{
    GroupCommit group(calls);
    Outcome outcome;
    for (const std::string name : {"a", "b"}) {
        std::vector<std::unique_ptr<WholeFile>> beside;
        const bool missing = besideFails && name == "a";
        beside.push_back(written((missing ? "none/" : "maps/") + name + ".gfw", name + " world"));
        group.add(written("maps/" + name + ".gif", name + " tile"), std::move(beside),
                  [&outcome](const Status& placed, const std::vector<Status>& besides) {
                      outcome.main.push_back(said(placed));
                      outcome.beside.emplace_back();
                      for (const Status& one : besides) {
                          outcome.beside.back().push_back(said(one));
                      }
                  });
    }
    EXPECT_EQ(group.size(), 2U);
    group.commit();
    EXPECT_EQ(group.size(), 0U);
    return outcome;
}

QStringList filesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

TEST(GroupCommit, OneSyncThenTheRenamesThenOneSyncOfTheFolder)
{
    TempWorkDir work;
    QDir().mkdir(QStringLiteral("maps"));
    TempWorkDir::write(QStringLiteral("maps/b.gif"), "old b");
    DurableCallsRecorder calls;
    calls.watched = {QStringLiteral("maps/a.gif"), QStringLiteral("maps/a.gfw"),
                     QStringLiteral("maps/b.gfw")};
    const Outcome outcome = commitTwoTiles(calls);
    EXPECT_EQ(calls.calls(), (QStringList{"sync", "rename a.gif", "rename a.gfw", "rename b.gif",
                                          "rename b.gfw", "sync folder maps"}));
    EXPECT_EQ(calls.presentAtSync(), QList<QStringList>{QStringList{}})
        << "nothing before the sync";
    EXPECT_EQ(outcome.main, (std::vector<std::string>{"placed", "placed"}));
    EXPECT_EQ(TempWorkDir::read(QStringLiteral("maps/b.gif")), QByteArray("b tile"));
    EXPECT_EQ(TempWorkDir::read(QStringLiteral("maps/a.gfw")), QByteArray("a world"));
    EXPECT_EQ(filesIn(QStringLiteral("maps")), (QStringList{"a.gfw", "a.gif", "b.gfw", "b.gif"}));
}

// A call that fails, and what each tile then is: its outcome and what the folder holds.
struct FailingCall {
    const char* call;
    bool besideFails;
    std::vector<std::string> main;
    std::vector<std::vector<std::string>> beside;
    QStringList left;
    const char* b; // what b.gif then holds
};

class GroupCommitFailure : public ::testing::TestWithParam<FailingCall> {};

TEST_P(GroupCommitFailure, LeavesOldFilesOrNoneAndSaysWhy)
{
    const FailingCall& c = GetParam();
    TempWorkDir work;
    QDir().mkdir(QStringLiteral("maps"));
    TempWorkDir::write(QStringLiteral("maps/b.gif"), "old b");
    DurableCallsRecorder calls;
    calls.fail = QString::fromLatin1(c.call);
    const Outcome outcome = commitTwoTiles(calls, c.besideFails);
    EXPECT_EQ(outcome.main, c.main);
    EXPECT_EQ(outcome.beside, c.beside);
    EXPECT_EQ(filesIn(QStringLiteral("maps")), c.left);
    EXPECT_EQ(TempWorkDir::read(QStringLiteral("maps/b.gif")), QByteArray(c.b));
}

const std::string p = "placed";
const std::string eio = "Input/output error";
INSTANTIATE_TEST_SUITE_P(
    Calls, GroupCommitFailure,
    ::testing::Values(
        // The data may not be on the disk: nothing is renamed, the old b stays.
        FailingCall{"sync", false, {eio, eio}, {{eio}, {eio}}, {"b.gif"}, "old b"},
        // One tile is not placed, nor its world file; the other is.
        FailingCall{"rename a.gif", false, {eio, p}, {{eio}, {p}}, {"b.gfw", "b.gif"}, "b tile"},
        // The tiles are in place, but their names may not be on the disk.
        FailingCall{"sync folder maps",
                    false,
                    {eio, eio},
                    {{eio}, {eio}},
                    {"a.gfw", "a.gif", "b.gfw", "b.gif"},
                    "b tile"},
        // A world file that cannot be written fails alone.
        FailingCall{"",
                    true,
                    {p, p},
                    {{"No such file or directory"}, {p}},
                    {"a.gif", "b.gfw", "b.gif"},
                    "b tile"}),
    [](const auto& info) { return "Case" + std::to_string(info.index); });

} // namespace
