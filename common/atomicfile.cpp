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

[[noreturn]] void fail(const QString& path, int error)
{
    throw Failure(QStringLiteral("The file %1 could not be written: %2")
                      .arg(path, QString::fromStdString(
                                     std::error_code(error, std::generic_category()).message())));
}

// A name beside |path| that no other writer of this process or another one uses.
QByteArray temporaryName(const QString& path)
{
    static std::atomic<unsigned> counter{0};
    const QFileInfo target(path);
    return QFile::encodeName(target.path() + QStringLiteral("/.") + target.fileName() +
                             QStringLiteral(".%1.%2.tmp").arg(::getpid()).arg(counter++));
}

bool writeAll(int fd, const QByteArray& bytes)
{
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        data += n;
        left -= n;
    }
    return true;
}

} // namespace

// A new file is written in place and removed again if writing fails. An existing file is
// replaced through a temporary file in its folder, so the rename that replaces it is atomic.
// There is no flush to disk before the rename: the files are cheap to make again, and a flush
// per file would cost more than writing it.
void writeFileAtomically(const QString& path, const QByteArray& bytes)
{
    const QByteArray target = QFile::encodeName(path);
    const int direct = ::open(target.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (direct >= 0) {
        const bool written = writeAll(direct, bytes);
        const int writeError = errno;
        if (::close(direct) != 0 || !written) {
            const int error = written ? errno : writeError;
            ::unlink(target.constData());
            fail(path, error);
        }
        return;
    }
    if (errno != EEXIST) {
        fail(path, errno);
    }

    const QByteArray temporary = temporaryName(path);
    const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        fail(path, errno);
    }
    struct stat existing {};
    if (::stat(target.constData(), &existing) == 0) {
        ::fchmod(fd, existing.st_mode & 07777); // keep the permissions the file had
    }
    const bool written = writeAll(fd, bytes);
    const int writeError = errno;
    if (::close(fd) != 0 || !written) {
        ::unlink(temporary.constData());
        fail(path, written ? errno : writeError);
    }
    if (std::rename(temporary.constData(), target.constData()) != 0) {
        const int renameError = errno;
        ::unlink(temporary.constData());
        fail(path, renameError);
    }
}

} // namespace common
