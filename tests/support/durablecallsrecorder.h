#pragma once

#include "common/groupcommit.h"

#include <QFileInfo>
#include <QString>
#include <QStringList>

#include <mutex>
#include <string>

namespace testsupport {

// The system calls of groups of files, recorded in order as "sync", "rename <target's file
// name>" and "sync folder <folder>"; at each sync, also how many of |watched| exist. |fail|
// names one call ("sync", "rename <name>" or "sync folder") that fails with EIO instead.
class DurableCallsRecorder : public common::DurableCalls {
public:
    int syncData(const std::vector<int>& fds) override
    {
        QStringList present;
        for (const QString& path : watched) {
            if (QFileInfo::exists(path)) {
                present.append(path);
            }
        }
        return record(QStringLiteral("sync"), present, [&] { return DurableCalls::syncData(fds); });
    }
    int rename(const std::string& from, const std::string& to) override
    {
        const QString name = QFileInfo(QString::fromStdString(to)).fileName();
        return record(QStringLiteral("rename ") + name, {},
                      [&] { return DurableCalls::rename(from, to); });
    }
    int syncFolder(const std::string& folder) override
    {
        return record(QStringLiteral("sync folder ") + QString::fromStdString(folder), {},
                      [&] { return DurableCalls::syncFolder(folder); });
    }

    // Syncs are recorded wherever the test works, in memory too.
    bool inMemory(int) override { return false; }

    QStringList calls() const
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }
    // The watched files that existed at each sync of data.
    QList<QStringList> presentAtSync() const
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        return present_;
    }

    QStringList watched;
    QString fail;

private:
    template <typename Call>
    int record(const QString& call, const QStringList& present, Call&& real)
    {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            calls_.append(call);
            if (call == QStringLiteral("sync")) {
                present_.append(present);
            }
        }
        return call == fail ? EIO : real();
    }

    mutable std::mutex mutex_;
    QStringList calls_;
    QList<QStringList> present_;
};

} // namespace testsupport
