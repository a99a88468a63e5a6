#include "common/wholefile.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <optional>
#include <pthread.h>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace common {

namespace {

// Tries this many serials before giving up on finding a free temporary name.
constexpr int nameAttempts = 64;

std::atomic<unsigned> nextSerial{0}; // of the temporary names this process makes

// This process's id, asked of the kernel once (each name of a temporary carries it) and again
// in a child after a fork.
pid_t thisProcess()
{
    static std::atomic<pid_t> known{0};
    static const bool forgetsOnFork =
        ::pthread_atfork(nullptr, nullptr, [] { known.store(0); }) == 0;
    pid_t pid = known.load(std::memory_order_relaxed);
    if (pid == 0 || !forgetsOnFork) {
        pid = ::getpid();
        known.store(pid, std::memory_order_relaxed);
    }
    return pid;
}

// The temporary file |serial| of this process beside |target|.
std::string temporaryPath(const std::string& target, unsigned serial)
{
    std::array<char, 32> name{};
    std::snprintf(name.data(), name.size(), ".~%08lx-%08x.tmp",
                  static_cast<unsigned long>(thisProcess()), serial);
    const std::size_t slash = target.rfind('/');
    return (slash == std::string::npos ? std::string() : target.substr(0, slash + 1)) + name.data();
}

// A temporary's name begins ".~PPPPPPPP-SSSSSSSS.tmp" (writer's process id, serial, both in
// lower-case hex); a companion appends to it.
constexpr std::size_t temporaryNameLength = 23;

bool isHex(std::string_view digits)
{
    return std::all_of(digits.begin(), digits.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// The writer's process id of a temporary's name, if it is one.
std::optional<pid_t> temporaryWriter(std::string_view fileName)
{
    if (fileName.size() < temporaryNameLength || fileName.substr(0, 2) != ".~" ||
        !isHex(fileName.substr(2, 8)) || fileName[10] != '-' || !isHex(fileName.substr(11, 8)) ||
        fileName.substr(19, 4) != ".tmp") {
        return std::nullopt;
    }
    return static_cast<pid_t>(std::stoul(std::string(fileName.substr(2, 8)), nullptr, 16));
}

// Whether the process |pid| exists; one that exists but belongs to someone else counts.
bool processRuns(pid_t pid)
{
    return pid == thisProcess() || ::kill(pid, 0) == 0 || errno == EPERM;
}

std::string systemReason(int error)
{
    return std::error_code(error, std::generic_category()).message();
}

int syncFile(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    const int error = ::fdatasync(fd) != 0 && errno != EINVAL ? errno : 0;
    ::close(fd);
    return error;
}

} // namespace

WholeFile::WholeFile(std::string target, Durability durability)
    : target_(std::move(target)), durability_(durability)
{}

WholeFile::~WholeFile()
{
    discard();
}

void WholeFile::fail(int systemError)
{
    if (!error_) {
        error_ = permanent(systemReason(systemError));
        diskFull_ = systemError == ENOSPC || systemError == EDQUOT;
    }
}

void WholeFile::open()
{
    if (error_ || fd_ >= 0) {
        return;
    }
    for (int attempt = 0; attempt < nameAttempts; ++attempt) {
        std::string name = temporaryPath(target_, nextSerial++);
        fd_ = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ < 0 && errno == EEXIST) {
            continue; // a leftover of an earlier process that had our id
        }
        if (fd_ < 0) {
            fail(errno);
            return;
        }
        temporary_ = std::move(name);
        // Taken at once; a clean-up in this process passes over our own names in any case.
        ::flock(fd_, LOCK_EX | LOCK_NB);
        return;
    }
    fail(EEXIST);
}

void WholeFile::write(const void* data, std::size_t size)
{
    if (fd_ < 0 || error_) {
        return;
    }
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd_, bytes, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            fail(n < 0 ? errno : EIO);
            return;
        }
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
}

void WholeFile::restart()
{
    if (fd_ >= 0 && (::ftruncate(fd_, 0) != 0 || ::lseek(fd_, 0, SEEK_SET) != 0)) {
        fail(errno);
    } else if (fd_ >= 0) {
        error_.reset(); // what failed belonged to the content dropped
        diskFull_ = false;
    }
}

Status WholeFile::renameOver(const std::string& from, bool sync, const Rename& rename)
{
    if (fd_ < 0 && !error_) {
        fail(EBADF); // never opened
    }
    if (!error_ && sync) {
        const int error = from == temporary_
                              ? (::fdatasync(fd_) != 0 && errno != EINVAL ? errno : 0)
                              : syncFile(from);
        if (error != 0) {
            fail(error);
        }
    }
    // Renamed while the temporary is still open and locked, so no clean-up sees it unlocked.
    if (!error_) {
        const int error = rename ? rename(from, target_) : replaceFile(from, target_);
        if (error != 0) {
            fail(error);
        }
    }
    if (error_) {
        if (from != temporary_) {
            ::unlink(from.c_str());
        }
        const Error error = *error_;
        discard();
        return error;
    }
    if (from == temporary_) {
        temporary_.clear();
    }
    discard();
    return {};
}

Status WholeFile::commit()
{
    return renameOver(temporary_, durability_ == Durability::Synced, {});
}

Status WholeFile::commitFrom(const std::string& written)
{
    return renameOver(written, durability_ == Durability::Synced, {});
}

Status WholeFile::commitSynced(const Rename& rename)
{
    return renameOver(temporary_, false, rename);
}

void WholeFile::discard()
{
    if (!temporary_.empty()) {
        ::unlink(temporary_.c_str()); // while the lock is still held
        temporary_.clear();
    }
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

int replaceFile(const std::string& from, const std::string& to)
{
    // Most files are new: a rename that may not replace costs no look-up of the target first.
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return 0;
    }
    // EINVAL: a file system without that kind of rename.
    if (errno != EEXIST && errno != EINVAL && errno != ENOSYS) {
        return errno;
    }
    struct stat existing {};
    if (::stat(to.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) {
        ::chmod(from.c_str(), existing.st_mode & 07777); // keep the permissions the file had
    }
    return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

bool isTemporaryName(std::string_view fileName)
{
    return temporaryWriter(fileName).has_value();
}

bool isStaleTemporary(int folderFd, std::string_view fileName)
{
    const std::optional<pid_t> pid = temporaryWriter(fileName);
    if (!pid || processRuns(*pid)) {
        return false;
    }
    const std::string locked(fileName.substr(0, temporaryNameLength));
    const int fd =
        ::openat(folderFd, locked.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    const bool free = fd < 0 ? errno == ENOENT : ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    if (fd >= 0) {
        ::close(fd);
    }
    return free;
}

} // namespace common
