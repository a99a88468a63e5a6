#include "pelagrin/filewriter.h"

#include "common/atomicfile.h"

#include <map>
#include <memory>

namespace pelagrin {

class FileWriter::Worker : public QObject {
public:
    void open(Id id, const QString& path)
    {
        auto file = std::make_unique<common::AtomicFile>(path);
        file->open(); // a failure shows at commit, with its reason
        files_[id] = std::move(file);
    }
    void write(Id id, const QByteArray& bytes)
    {
        if (const auto it = files_.find(id); it != files_.end()) {
            it->second->write(bytes);
        }
    }
    common::Status commit(Id id)
    {
        const auto it = files_.find(id);
        if (it == files_.end()) {
            return {};
        }
        common::Status committed = it->second->commit();
        files_.erase(it);
        return committed;
    }
    void discard(Id id) { files_.erase(id); }

private:
    std::map<Id, std::unique_ptr<common::AtomicFile>> files_;
};

FileWriter::FileWriter() : worker_(new Worker)
{
    thread_.setObjectName(QStringLiteral("file writer"));
    worker_->moveToThread(&thread_);
    QObject::connect(&thread_, &QThread::finished, worker_, &QObject::deleteLater);
    thread_.start();
}

FileWriter::~FileWriter()
{
    // Queued behind the work already asked for, which is therefore done first.
    QMetaObject::invokeMethod(
        worker_, [t = &thread_] { t->quit(); }, Qt::QueuedConnection);
    thread_.wait();
}

FileWriter::Id FileWriter::open(const QString& path)
{
    const Id id = next_++;
    QMetaObject::invokeMethod(
        worker_, [w = worker_, id, path] { w->open(id, path); }, Qt::QueuedConnection);
    return id;
}

void FileWriter::write(Id id, const QByteArray& bytes)
{
    QMetaObject::invokeMethod(
        worker_, [w = worker_, id, bytes] { w->write(id, bytes); }, Qt::QueuedConnection);
}

void FileWriter::commit(Id id, Ended ended)
{
    QMetaObject::invokeMethod(
        worker_,
        [this, id, ended = std::move(ended)] {
            const common::Status written = worker_->commit(id);
            answer([ended, written] { ended(written); });
        },
        Qt::QueuedConnection);
}

void FileWriter::discard(Id id, std::function<void()> ended)
{
    QMetaObject::invokeMethod(
        worker_,
        [this, id, ended = std::move(ended)] {
            worker_->discard(id);
            if (ended) {
                answer(ended);
            }
        },
        Qt::QueuedConnection);
}

void FileWriter::answer(std::function<void()> answer)
{
    // |replies_| outlives the thread (the destructor waits for it), so the answer can always
    // be posted; it is dropped if the writer is gone before it is delivered.
    QMetaObject::invokeMethod(&replies_, std::move(answer), Qt::QueuedConnection);
}

} // namespace pelagrin
