#include "pelagrin/filewriter.h"

#include "common/atomicfile.h"

#include <memory>
#include <utility>

namespace pelagrin {

class FileWriter::Worker : public QObject {
public:
    void open(Id id, const QString& path)
    {
        auto file = std::make_unique<common::AtomicFile>(path);
        file->open(); // a failure shows at commit, with its reason
        files_[id] = std::move(file);
    }
    void write(Id id, const QByteArrayList& pieces)
    {
        if (const auto it = files_.find(id); it != files_.end()) {
            for (const QByteArray& piece : pieces) {
                it->second->write(piece);
            }
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
    post([t = &thread_] { t->quit(); });
    thread_.wait();
}

FileWriter::Id FileWriter::open(const QString& path)
{
    const Id id = next_++;
    live_.emplace(id, path);
    return id;
}

void FileWriter::write(Id id, QByteArrayList pieces)
{
    const auto it = live_.find(id);
    if (it == live_.end()) {
        return;
    }
    post([w = worker_, id, path = std::exchange(it->second, std::nullopt),
          pieces = std::move(pieces)] {
        if (path) {
            w->open(id, *path);
        }
        w->write(id, pieces);
    });
}

void FileWriter::commit(Id id, Ended ended, std::vector<WholeFile> beside)
{
    const auto it = live_.find(id);
    if (it == live_.end()) {
        return;
    }
    const std::optional<QString> path = it->second;
    live_.erase(it);
    post([this, id, path, ended = std::move(ended), beside = std::move(beside)] {
        if (path) {
            worker_->open(id, *path); // nothing was written
        }
        const common::Status written = worker_->commit(id);
        common::Status besideWritten;
        if (written) {
            for (const WholeFile& file : beside) {
                const common::Status one = common::writeFileAtomically(file.path, file.bytes);
                if (besideWritten && !one) {
                    besideWritten = one;
                }
            }
        }
        answer([ended, written, besideWritten] { ended(written, besideWritten); });
    });
}

void FileWriter::discard(Id id, std::function<void()> ended)
{
    const auto it = live_.find(id);
    const bool onThread = it != live_.end() && !it->second;
    if (it != live_.end()) {
        live_.erase(it);
    }
    if (!onThread) {
        if (ended) {
            answer(std::move(ended)); // there is no temporary file
        }
        return;
    }
    post([this, id, ended = std::move(ended)] {
        worker_->discard(id);
        if (ended) {
            answer(ended);
        }
    });
}

void FileWriter::post(std::function<void()> work)
{
    QMetaObject::invokeMethod(worker_, std::move(work), Qt::QueuedConnection);
}

void FileWriter::answer(std::function<void()> answer)
{
    // |replies_| outlives the thread (the destructor waits for it), so the answer can always
    // be posted; it is dropped if the writer is gone before it is delivered.
    QMetaObject::invokeMethod(&replies_, std::move(answer), Qt::QueuedConnection);
}

} // namespace pelagrin
