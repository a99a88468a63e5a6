#include "atomicfile.h"

#include "failure.h"

#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace common {

namespace {

// A name beside |path| that no other writer of this process or another one uses.
QByteArray temporaryName(const QString& path)
{
    static std::atomic<unsigned> counter{0};
    const QFileInfo target(path);
    return QFile::encodeName(target.path() + QStringLiteral("/.") + target.fileName() +
                             QStringLiteral(".%1.%2.tmp").arg(::getpid()).arg(counter++));
}

int openNew(const QByteArray& name)
{
    return ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
}

} // namespace

AtomicFile::AtomicFile(QString path) : path_(std::move(path)), target_(QFile::encodeName(path_)) {}

AtomicFile::~AtomicFile()
{
    discard();
}

bool AtomicFile::open()
{
    fd_ = openNew(target_);
    if (fd_ >= 0) {
        createdInPlace_ = true;
        return true;
    }
    if (errno != EEXIST) {
        error_ = errno;
        return false;
    }
    temporary_ = temporaryName(path_);
    fd_ = openNew(temporary_);
    if (fd_ < 0) {
        error_ = errno;
        temporary_.clear();
        return false;
    }
    struct stat existing {};
    if (::stat(target_.constData(), &existing) == 0) {
        ::fchmod(fd_, existing.st_mode & 07777); // keep the permissions the file had
    }
    return true;
}

bool AtomicFile::write(const QByteArray& bytes)
{
    if (fd_ < 0 || error_ != 0) {
        return false;
    }
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd_, data, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            error_ = n < 0 ? errno : EIO;
            return false;
        }
        data += n;
        left -= n;
    }
    return true;
}

void AtomicFile::commit()
{
    if (fd_ < 0 && error_ == 0) {
        error_ = EBADF; // never opened
    }
    if (fd_ >= 0 && error_ == 0 && ::close(fd_) != 0) {
        error_ = errno;
    }
    fd_ = -1;
    if (error_ == 0 && !temporary_.isEmpty() &&
        std::rename(temporary_.constData(), target_.constData()) != 0) {
        error_ = errno;
    }
    if (error_ != 0) {
        const QString reason = errorString();
        discard();
        throw Failure(QStringLiteral("The file %1 could not be written: %2").arg(path_, reason));
    }
    temporary_.clear();
    createdInPlace_ = false; // in place now: nothing to discard
}

QString AtomicFile::errorString() const
{
    return QString::fromStdString(std::error_code(error_, std::generic_category()).message());
}

void AtomicFile::discard()
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!temporary_.isEmpty()) {
        ::unlink(temporary_.constData());
    } else if (createdInPlace_) {
        ::unlink(target_.constData()); // the file this object made, never finished
    }
    temporary_.clear();
    createdInPlace_ = false;
}

void writeFileAtomically(const QString& path, const QByteArray& bytes)
{
    AtomicFile file(path);
    if (file.open()) {
        file.write(bytes);
    }
    file.commit();
}

} // namespace common
