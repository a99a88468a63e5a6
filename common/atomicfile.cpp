#include "common/atomicfile.h"

#include "common/errortext.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace common {

namespace {

// Tries this many serials before giving up on finding a free temporary name.
constexpr int nameAttempts = 64;

std::atomic<unsigned> nextSerial{0}; // of the temporary names this process makes

// The temporary file |serial| of this process beside |target| (an encoded path).

QByteArray temporaryPath(const QByteArray& target, unsigned serial)
{
    std::array<char, 32> name{};
    std::snprintf(name.data(), name.size(), ".~%08lx-%08x.tmp",
                  static_cast<unsigned long>(::getpid()), serial);
    return target.left(target.lastIndexOf('/') + 1) + name.data();
}

const QRegularExpression& temporaryPattern()
{
    static const QRegularExpression pattern(
        QStringLiteral("^(\\.~([0-9a-f]{8})-[0-9a-f]{8}\\.tmp)(.*)$"));
    return pattern;
}

// Whether the process |pid| exists; one that exists but belongs to someone else counts.
bool processRuns(pid_t pid)
{
    return pid == ::getpid() || ::kill(pid, 0) == 0 || errno == EPERM;
}

QString errnoText(int error)
{
    return QString::fromStdString(std::error_code(error, std::generic_category()).message());
}

} // namespace

AtomicFile::AtomicFile(QString path) : path_(std::move(path)), target_(QFile::encodeName(path_)) {}

AtomicFile::~AtomicFile()
{
    discard();
}

void AtomicFile::open()
{
    for (int attempt = 0; attempt < nameAttempts; ++attempt) {
        const QByteArray name = temporaryPath(target_, nextSerial++);
        fd_ = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ < 0 && errno == EEXIST) {
            continue; // a leftover of an earlier process that had our id
        }
        if (fd_ < 0) {
            error_ = errno;
            return;
        }
        temporary_ = name;
        // Taken at once: a cleaner that finds the file unlocked may remove it.
        ::flock(fd_, LOCK_EX | LOCK_NB);
        struct stat existing {};
        if (::stat(target_.constData(), &existing) == 0 && S_ISREG(existing.st_mode)) {
            ::fchmod(fd_, existing.st_mode & 07777); // keep the permissions the file had
        }
        return;
    }
    error_ = EEXIST;
}

void AtomicFile::write(const QByteArray& bytes)
{
    if (fd_ < 0 || error_ != 0) {
        return;
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
            return;
        }
        data += n;
        left -= n;
    }
}

Status AtomicFile::commit()
{
    if (fd_ < 0 && error_ == 0) {
        error_ = EBADF; // never opened
    }
    // The data reach the disk before the name does, so a power cut cannot leave an empty or
    // partial file under the target's name.
    if (error_ == 0 && ::fdatasync(fd_) != 0 && errno != EINVAL) {
        error_ = errno;
    }
    // Renamed while still open and locked, so no cleaner ever sees it unlocked.
    if (error_ == 0 && std::rename(temporary_.constData(), target_.constData()) != 0) {
        error_ = errno;
    }
    if (error_ != 0) {
        const QString reason = errorString();
        discard();
        return makeError(ErrorKind::Permanent,
                         QStringLiteral("The file %1 could not be written: %2").arg(path_, reason));
    }
    temporary_.clear();
    if (::close(fd_) != 0 && errno != EINTR) {
        error_ = errno; // the data are in place and flushed: nothing is lost any more
    }
    fd_ = -1;
    return {};
}

QString AtomicFile::errorString() const
{
    return errnoText(error_);
}

void AtomicFile::discard()
{
    if (!temporary_.isEmpty()) {
        ::unlink(temporary_.constData());
        temporary_.clear();
    }
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

Status writeFileAtomically(const QString& path, const QByteArray& bytes)
{
    AtomicFile file(path);
    file.open();
    file.write(bytes);
    return file.commit();
}

QString temporaryPathFor(const QString& target)
{
    return QFile::decodeName(temporaryPath(QFile::encodeName(target), nextSerial++));
}

bool isTemporaryName(const QString& fileName)
{
    return temporaryPattern().match(fileName).hasMatch();
}

int removeStaleTemporaries(const QString& folder)
{
    // Read straight from the directory: the folder may hold many thousand tiles.
    DIR* dir = ::opendir(QFile::encodeName(folder).constData());
    if (dir == nullptr) {
        return 0;
    }
    const int dirFd = ::dirfd(dir);
    int removed = 0;
    // readdir is safe here: the directory stream belongs to this call alone.
    while (const dirent* entry = ::readdir(dir)) { // NOLINT(concurrency-mt-unsafe)
        if (entry->d_name[0] != '.' || entry->d_name[1] != '~') {
            continue;
        }
        const QRegularExpressionMatch match =
            temporaryPattern().match(QString::fromLatin1(entry->d_name));
        if (!match.hasMatch()) {
            continue;
        }
        const auto pid = static_cast<pid_t>(match.captured(2).toLongLong(nullptr, 16));
        if (processRuns(pid)) {
            continue;
        }
        // A writer in another process namespace may share the folder: its lock still shows,
        // on the name itself or, for a companion, on the name without the suffix.
        const QByteArray locked = match.captured(1).toLatin1();
        const int fd =
            ::openat(dirFd, locked.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        const bool free = fd < 0 ? errno == ENOENT : ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        if (free && ::unlinkat(dirFd, entry->d_name, 0) == 0) {
            ++removed;
        }
        if (fd >= 0) {
            ::close(fd);
        }
    }
    ::closedir(dir);
    return removed;
}

Status folderWritable(const QString& folder)
{
    AtomicFile probe(folder + QStringLiteral("/probe"));
    probe.open();
    if (!probe.ok()) {
        return makeError(ErrorKind::Permanent, probe.errorString());
    }
    probe.discard();
    return {};
}

} // namespace common
