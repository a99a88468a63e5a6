#pragma once

#include "common/groupcommit.h"
#include "common/result.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QObject>
#include <QString>
#include <QThread>

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <vector>

namespace pelagrin {

// Writes files on a thread of its own, each to a hidden temporary (common::WholeFile), so that
// neither the window nor the next transfer waits for the disk. The work for one file runs in the
// order it was asked for; |ended| runs on the thread that owns the writer.
//
// Committed files are made durable in groups (common::GroupCommit): a group is put in place
// once it holds maxGroup files, maxGroupWait after its first, or at flush(), whichever comes
// first. |ended| runs when the file is in place and on the disk.
//
// Every call that reaches the thread wakes it, so the calls are folded where they can be: a
// file is opened there with its first bytes, and the small files beside it are written with
// its commit.
class FileWriter {
public:
    using Id = quint64;
    static constexpr std::size_t maxGroup = common::groupSets;
    static constexpr std::chrono::milliseconds maxGroupWait = common::groupWait;
    // A small file written whole once the file it goes with is in place.
    struct WholeFile {
        QString path;
        QByteArray bytes;
    };
    // Whether the file is in place, and whether the files beside it are (the first failure
    // among them); each error says why. The files beside are not tried when the file fails.
    using Ended = std::function<void(const common::Status& written, const common::Status& beside)>;

    // |calls|, which must outlive the writer, make the groups durable.
    explicit FileWriter(common::DurableCalls& calls = common::systemDurableCalls());
    ~FileWriter(); // finishes what was asked for, then stops the thread
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;

    // Begins the file |path|; returns the id that the other calls take.
    Id open(const QString& path);
    // Appends |pieces|, in order.
    void write(Id id, QByteArrayList pieces);
    // Puts the file in place, then the files |beside|, with the group; |ended| learns how that
    // went, unless the id is discarded first.
    void commit(Id id, Ended ended, std::vector<WholeFile> beside = {});
    // Puts the group committed so far in place now, when nothing more is coming soon.
    void flush();
    // Drops what was written for |id|; the target stays as it was. |ended|, when given, runs
    // once the temporary file is gone. A file already committed stays in place.
    void discard(Id id, std::function<void()> ended = {});

private:
    class Worker;
    // Runs |answer| on the owner's thread, from the writer's.
    void answer(std::function<void()> answer);
    // Runs |work| on the writer's thread, after what was asked for before.
    void post(std::function<void()> work);

    QThread thread_;
    Worker* worker_;  // lives in |thread_|
    QObject replies_; // lives here: the context of the answers
    Id next_ = 1;
    // The files neither committed nor discarded, each with its path until the thread has it.
    std::map<Id, std::optional<QString>> live_;
};

} // namespace pelagrin
