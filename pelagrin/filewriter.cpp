#include "pelagrin/filewriter.h"

#include "common/atomicfile.h"

#include <QFile>
#include <QTimer>

#include <memory>
#include <utility>

namespace pelagrin {

namespace {

std::unique_ptr<common::WholeFile> openFile(const QString& path)
{
    auto file = std::make_unique<common::WholeFile>(QFile::encodeName(path).toStdString());
    file->open(); // a failure shows at commit, with its reason
    return file;
}

} // namespace

class FileWriter::Worker : public QObject {
public:
    explicit Worker(common::DurableCalls& calls) : group_(calls), timer_(this)
    {
        timer_.setSingleShot(true);
        timer_.setInterval(maxGroupWait);
        QObject::connect(&timer_, &QTimer::timeout, this, [this] { flush(); });
    }
    void open(Id id, const QString& path) { files_[id] = {path, openFile(path)}; }
    void write(Id id, const QByteArrayList& pieces)
    {
        if (const auto it = files_.find(id); it != files_.end()) {
            for (const QByteArray& piece : pieces) {
                it->second.file->write(piece.constData(), static_cast<std::size_t>(piece.size()));
            }
        }
    }
    // Adds the file and |beside| to the group; |ended| runs once they are in place.
    void commit(Id id, const std::vector<WholeFile>& beside, Ended ended)
    {
        const auto it = files_.find(id);
        if (it == files_.end()) {
            return;
        }
        Open main = std::move(it->second);
        files_.erase(it);
        std::vector<std::unique_ptr<common::WholeFile>> besideFiles;
        std::vector<QString> besidePaths;
        besideFiles.reserve(beside.size());
        besidePaths.reserve(beside.size());
        for (const WholeFile& file : beside) {
            besideFiles.push_back(openFile(file.path));
            besideFiles.back()->write(file.bytes.constData(),
                                      static_cast<std::size_t>(file.bytes.size()));
            besidePaths.push_back(file.path);
        }
        group_.add(std::move(main.file), std::move(besideFiles),
                   [path = main.path, besidePaths = std::move(besidePaths),
                    ended = std::move(ended)](const common::Status& placed,
                                              const std::vector<common::Status>& besides) {
                       common::Status firstFailure;
                       for (std::size_t i = 0; i < besides.size() && firstFailure; ++i) {
                           firstFailure = common::namedFailure(besidePaths[i], besides[i]);
                       }
                       ended(common::namedFailure(path, placed), firstFailure);
                   });
        if (group_.size() >= maxGroup) {
            flush();
        } else if (group_.size() == 1) {
            timer_.start();
        }
    }
    void discard(Id id) { files_.erase(id); }
    void flush()
    {
        timer_.stop();
        group_.commit();
    }

private:
    struct Open {
        QString path;
        std::unique_ptr<common::WholeFile> file;
    };
    std::map<Id, Open> files_;
    common::GroupCommit group_;
    QTimer timer_;
};

FileWriter::FileWriter(common::DurableCalls& calls) : worker_(new Worker(calls))
{
    thread_.setObjectName(QStringLiteral("file writer"));
    worker_->moveToThread(&thread_);
    QObject::connect(&thread_, &QThread::finished, worker_, &QObject::deleteLater);
    thread_.start();
}

FileWriter::~FileWriter()
{
    // Queued behind the work already asked for, which is therefore done first.
    post([w = worker_, t = &thread_] {
        w->flush();
        t->quit();
    });
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
        worker_->commit(
            id, beside,
            [this, ended](const common::Status& written, const common::Status& besideWritten) {
                answer([ended, written, besideWritten] { ended(written, besideWritten); });
            });
    });
}

void FileWriter::flush()
{
    post([w = worker_] { w->flush(); });
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
