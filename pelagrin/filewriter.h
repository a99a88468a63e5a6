#pragma once

#include "common/result.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QThread>

#include <functional>

namespace pelagrin {

// Writes files on a thread of its own, each through a common::AtomicFile, so that neither the
// window nor the next transfer waits for the disk. The work for one file runs in the order it
// was asked for; |ended| runs on the thread that owns the writer.
class FileWriter {
public:
    using Id = quint64;
    // Whether the file is in place; the error says why it could not be written.
    using Ended = std::function<void(const common::Status& written)>;

    FileWriter();
    ~FileWriter(); // finishes what was asked for, then stops the thread
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;

    // Begins the temporary file of |path|; returns the id that the other calls take.
    Id open(const QString& path);
    void write(Id id, const QByteArray& bytes);
    // Puts the file in place; |ended| learns how that went, unless the id is discarded first.
    void commit(Id id, Ended ended);
    // Drops what was written for |id|; the target stays as it was. |ended|, when given, runs
    // once the temporary file is gone.
    void discard(Id id, std::function<void()> ended = {});

private:
    class Worker;
    // Runs |answer| on the owner's thread, from the writer's.
    void answer(std::function<void()> answer);

    QThread thread_;
    Worker* worker_;  // lives in |thread_|
    QObject replies_; // lives here: the context of the answers
    Id next_ = 1;
};

} // namespace pelagrin
