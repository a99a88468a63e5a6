#include "mapservice/tilecache.h"

#include "common/readfile.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace mapservice {

namespace {

namespace fs = std::filesystem;

// What records that the upstream has nothing there. No picture begins so.
constexpr std::string_view nothingThere = "mapservice: nothing there\n";
// The file a service locks while it counts or evicts, so that services sharing the folder take
// turns; it holds the folder's size as they keep it between walks.
constexpr const char* evictionLock = ".evict.lock";

std::string systemReason(int error = errno)
{
    return std::error_code(error, std::generic_category()).message();
}

bool diskFull(int error)
{
    return error == ENOSPC || error == EDQUOT;
}

} // namespace

// The lock file, held while it lives; where it cannot be had, nothing is shared.
class TileCache::FolderLock {
public:
    explicit FolderLock(const std::string& folder)
        : fd_(::open((folder + "/" + evictionLock).c_str(),
                     O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644))
    {
        if (fd_ >= 0) {
            ::flock(fd_, LOCK_EX); // held for a few reads and unlinks by whoever has it
        }
    }
    ~FolderLock()
    {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // The folder's size in bytes as the services last wrote it; nothing before any did.
    std::optional<std::uint64_t> size() const
    {
        char text[24] = {};
        const ssize_t n = fd_ >= 0 ? ::pread(fd_, text, sizeof text - 1, 0) : -1;
        if (n <= 0 || text[0] < '0' || text[0] > '9') {
            return std::nullopt;
        }
        return std::strtoull(text, nullptr, 10);
    }
    void setSize(std::uint64_t bytes) const
    {
        if (fd_ < 0) {
            return;
        }
        const std::string text = std::to_string(bytes) + "\n";
        if (::ftruncate(fd_, 0) == 0) {
            (void)!::pwrite(fd_, text.data(), text.size(), 0);
        }
    }

private:
    int fd_;
};

bool TileCache::Temporary::write(const char* data, std::size_t size)
{
    file_.write(data, size);
    return file_.ok();
}

bool TileCache::Temporary::restart()
{
    file_.restart();
    return file_.ok();
}

TileCache::TileCache(std::string folder, Limits limits)
    : folder_(std::move(folder)), limits_(limits)
{}

void TileCache::walkIfDue()
{
    const auto now = SteadyClock::now();
    if (walked_ && now - lastSweep_ >= limits_.sweepEvery) {
        sweepTemporaries();
    }
    if (!walked_ || now - lastWalk_ >= limits_.walkEvery) {
        walk();
    }
}

void TileCache::walk()
{
    if (!walked_) {
        sweepTemporaries();
    }
    walked_ = true;
    lastWalk_ = SteadyClock::now();
    std::error_code ec;
    std::vector<std::pair<timespec, std::string>> byAccess; // what was used last comes last
    std::unordered_map<std::string, Entry> found;
    total_ = 0;
    for (fs::recursive_directory_iterator it(folder_, ec), end; !ec && it != end;
         it.increment(ec)) {
        struct stat status {};
        if (it->path().filename().native().front() == '.' ||
            ::lstat(it->path().c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
            continue;
        }
        Entry& entry = found[it->path().native()];
        entry.size = static_cast<std::uint64_t>(status.st_size);
        if (const auto known = entries_.find(it->path().native()); known != entries_.end()) {
            entry.last = known->second.last; // still in use by a picture, perhaps
        }
        byAccess.emplace_back(status.st_atim, it->path().native());
        total_ += entry.size;
    }
    // The access time orders the entries by use across every service sharing the folder.
    std::sort(byAccess.begin(), byAccess.end(), [](const auto& a, const auto& b) {
        return std::tie(a.first.tv_sec, a.first.tv_nsec, a.second) <
               std::tie(b.first.tv_sec, b.first.tv_nsec, b.second);
    });
    for (const auto& [time, file] : byAccess) {
        found[file].used = ++uses_;
    }
    entries_ = std::move(found);
    FolderLock(folder_).setSize(total_); // counted anew for every service sharing it
}

void TileCache::sweepTemporaries()
{
    lastSweep_ = SteadyClock::now();
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder_, ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().native();
        if (name.front() != '.' || name == evictionLock || !it->is_regular_file(ec)) {
            continue;
        }
        // A temporary of this process, or of a writer that is alive, stays; so does one of an
        // earlier version's form whose writer still holds its lock.
        const int folderFd =
            ::open(it->path().parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folderFd < 0) {
            continue;
        }
        bool stale = false;
        if (common::isTemporaryName(name)) {
            stale = common::isStaleTemporary(folderFd, name);
        } else {
            const int fd = ::openat(folderFd, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
            stale = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
            if (fd >= 0) {
                ::close(fd);
            }
        }
        if (stale) {
            ::unlinkat(folderFd, name.c_str(), 0);
        }
        ::close(folderFd);
    }
}

namespace {

constexpr std::string_view recordHeader = "mapservice cache record 1\n";
constexpr const char* recordSuffix = ".rec";

bool isRecord(const std::string& file)
{
    return file.size() > 4 && file.compare(file.size() - 4, 4, recordSuffix) == 0;
}

} // namespace

std::optional<TileCache::Record> TileCache::recordOf(const std::string& file)
{
    const auto read = common::readUpTo(file + recordSuffix, 4096);
    if (!read) {
        return std::nullopt;
    }
    const std::string& text = *read;
    if (text.compare(0, recordHeader.size(), recordHeader) != 0) {
        return std::nullopt;
    }
    Record record;
    std::size_t at = recordHeader.size();
    while (at < text.size()) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        const std::size_t blank = line.find(' ');
        const std::string name = line.substr(0, blank);
        const std::string value = blank == std::string::npos ? "" : line.substr(blank + 1);
        if (name == "expires") {
            record.expires = static_cast<std::time_t>(std::strtoll(value.c_str(), nullptr, 10));
        } else if (name == "revalidate") {
            record.revalidate = value == "1";
        } else if (name == "etag") {
            record.etag = value;
        } else if (name == "last-modified") {
            record.lastModified = value;
        }
    }
    return record;
}

std::time_t TileCache::expiresOf(const std::string& file)
{
    if (const auto record = recordOf(file)) {
        return record->revalidate ? 0 : record->expires;
    }
    struct stat status {};
    return ::stat(file.c_str(), &status) == 0 ? status.st_mtime + limits_.maxAge : 0;
}

std::optional<TileCache::Cached> TileCache::find(const std::string& key)
{
    auto cached = lookup(key);
    return cached && cached->fresh ? cached : std::nullopt;
}

std::optional<TileCache::Cached> TileCache::lookup(const std::string& key, Pin* pin)
{
    const std::string file = path(key);
    struct stat status {};
    // What is no regular file (a pipe, a link) is none of the cache's and goes; it is never
    // opened, as reading a pipe waits for a writer.
    for (const std::string& own : {file, file + recordSuffix}) {
        if (::lstat(own.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) {
            ::unlink(own.c_str());
        }
    }
    if (::lstat(file.c_str(), &status) != 0 || !S_ISREG(status.st_mode) || status.st_size == 0) {
        return std::nullopt;
    }
    std::optional<Record> record = recordOf(file);
    const std::time_t expires = !record              ? status.st_mtime + limits_.maxAge
                                : record->revalidate ? 0
                                                     : record->expires;
    const bool fresh = std::time(nullptr) <= expires;
    bool nothing = false;
    if (static_cast<std::size_t>(status.st_size) == nothingThere.size()) {
        nothing = common::readUpTo(file, nothingThere.size()) == nothingThere;
    }
    // The access time orders the entries by use; the modification time is the fetch's.
    const timespec times[2] = {{0, UTIME_NOW}, {0, UTIME_OMIT}};
    ::utimensat(AT_FDCWD, file.c_str(), times, 0);
    const std::lock_guard lock(mutex_);
    walkIfDue();
    auto [it, added] = entries_.try_emplace(file);
    if (added) { // stored by another service since the last walk
        it->second.size = static_cast<std::uint64_t>(status.st_size);
        total_ += it->second.size;
    }
    it->second.used = ++uses_;
    it->second.last = SteadyClock::now();
    if (pin != nullptr && fresh && !nothing) {
        *pin = this->pin(file);
        if (::access(file.c_str(), F_OK) != 0) { // evicted by another service meanwhile
            pin->reset();
            return std::nullopt;
        }
    }
    return Cached{file, nothing, fresh, std::move(record)};
}

common::Result<std::unique_ptr<TileCache::Temporary>>
TileCache::temporaryFor(const std::string& key)
{
    const fs::path file = path(key);
    for (int attempt = 0;; ++attempt) {
        std::error_code ec;
        // Its reason (a read-only cache, one of another user's) is the one to tell: the file's
        // own would only say that the folder is not there.
        if (!fs::create_directories(file.parent_path(), ec) && ec) {
            if (diskFull(ec.value()) && attempt == 0) {
                makeRoom();
                continue;
            }
            if (diskFull(ec.value())) {
                return cacheFull();
            }
            return common::permanent("the tile cache " + folder_ +
                                     " cannot be written: " + ec.message());
        }
        std::unique_ptr<Temporary> temporary(new Temporary(file.native()));
        temporary->file_.open();
        if (temporary->diskFull() && attempt == 0) {
            makeRoom();
            continue;
        }
        if (temporary->diskFull()) {
            return cacheFull();
        }
        if (const auto& error = temporary->error()) {
            return common::permanent("the tile cache " + folder_ +
                                     " cannot be written: " + error->text);
        }
        return temporary;
    }
}

common::Status TileCache::renew(const std::string& key, const Record& record)
{
    common::WholeFile file(path(key) + recordSuffix, common::WholeFile::Durability::Unsynced);
    file.open();
    std::string text(recordHeader);
    text += "expires " + std::to_string(record.expires) + "\nrevalidate " +
            (record.revalidate ? "1" : "0") + "\n";
    // Validators are single lines as the upstream sent them; anything else is not kept.
    const auto oneLine = [](const std::string& v) {
        return v.size() < 1000 && v.find_first_of("\r\n") == std::string::npos;
    };
    if (!record.etag.empty() && oneLine(record.etag)) {
        text += "etag " + record.etag + "\n";
    }
    if (!record.lastModified.empty() && oneLine(record.lastModified)) {
        text += "last-modified " + record.lastModified + "\n";
    }
    file.write(text.data(), text.size());
    if (auto committed = file.commit(); !committed) {
        return common::permanent("the tile cache " + folder_ +
                                 " cannot be written: " + committed.error().text);
    }
    return {};
}

common::Status TileCache::store(const std::string& key, Temporary& written,
                                const std::optional<Record>& record, Pin* pin)
{
    const std::string file = path(key);
    struct stat status {};
    if (::stat(written.path().c_str(), &status) != 0) {
        return common::permanent("the tile cache " + folder_ +
                                 " cannot be written: " + systemReason());
    }
    if (auto committed = written.file_.commit(); !committed) {
        return common::permanent("the tile cache " + folder_ +
                                 " cannot be written: " + committed.error().text);
    }
    if (record) {
        if (auto renewed = renew(key, *record); !renewed) {
            return renewed;
        }
    } else {
        ::unlink((file + recordSuffix).c_str()); // an older answer's
    }
    struct stat recordStatus {};
    const std::uint64_t recordSize = ::stat((file + recordSuffix).c_str(), &recordStatus) == 0
                                         ? static_cast<std::uint64_t>(recordStatus.st_size)
                                         : 0;
    const std::lock_guard lock(mutex_);
    walkIfDue();
    const auto size = static_cast<std::uint64_t>(status.st_size);
    Entry& entry = entries_[file];
    Entry& recordEntry = entries_[file + recordSuffix];
    // What the folder gained: the body and its record, less what they replaced.
    const std::uint64_t before = entry.size + recordEntry.size;
    entry = {size, ++uses_, SteadyClock::now()};
    recordEntry.size = recordSize;
    if (recordSize == 0) {
        entries_.erase(file + recordSuffix);
    }
    if (pin != nullptr) {
        *pin = this->pin(file);
    }
    // The size every service sharing the folder keeps, else this one's own count.
    const FolderLock folder(folder_);
    const std::uint64_t counted = folder.size().value_or(total_);
    total_ = std::max(counted + size + recordSize, before) - before;
    folder.setSize(total_);
    if (total_ > limits_.maxBytes) {
        // Down to nine tenths of the limit, so that the sorting is not done again at every store.
        evictLocked(limits_.maxBytes / 10 * 9, folder);
    }
    return {};
}

common::Status TileCache::storeNothing(const std::string& key, Temporary& written)
{
    for (int attempt = 0;; ++attempt) {
        if (written.restart() && written.write(nothingThere.data(), nothingThere.size())) {
            return store(key, written);
        }
        if (!written.diskFull() || attempt > 0) {
            return common::permanent("the tile cache " + folder_ + " cannot be written: " +
                                     (written.error() ? written.error()->text : systemReason()));
        }
        makeRoom();
    }
}

common::Error TileCache::cacheFull()
{
    return common::passing("cache folder full: all that is in it is being drawn from", 503);
}

void TileCache::makeRoom()
{
    const std::lock_guard lock(mutex_);
    walk(); // what the file system holds now
    const FolderLock folder(folder_);
    evictLocked(std::min(limits_.maxBytes, total_) / 2, folder);
}

void TileCache::evictLocked(std::uint64_t target, const FolderLock& folder)
{
    if (total_ <= target) {
        return;
    }
    std::vector<std::pair<std::uint64_t, std::string>> byUse;
    byUse.reserve(entries_.size());
    for (const auto& [file, entry] : entries_) {
        if (!isRecord(file) && !pinned(file)) { // a record goes with its entry
            byUse.emplace_back(entry.used, file);
        }
    }
    std::sort(byUse.begin(), byUse.end());
    for (const auto& [used, file] : byUse) {
        if (total_ <= target) {
            break;
        }
        ::unlink(file.c_str());
        total_ -= entries_[file].size;
        entries_.erase(file);
        const std::string record = file + recordSuffix;
        if (const auto it = entries_.find(record); it != entries_.end()) {
            total_ -= it->second.size;
            entries_.erase(it);
        }
        ::unlink(record.c_str());
    }
    folder.setSize(total_);
}

TileCache::Pin TileCache::pin(const std::string& file)
{
    {
        const std::lock_guard lock(pins_->mutex);
        ++pins_->count[file];
    }
    // The token points at the pins (never deleted through it); its deleter lets go.
    return std::shared_ptr<const void>(pins_.get(),
                                       [weak = std::weak_ptr<Pins>(pins_), file](const void*) {
                                           if (const auto pins = weak.lock()) {
                                               const std::lock_guard lock(pins->mutex);
                                               if (const auto it = pins->count.find(file);
                                                   it != pins->count.end() && --it->second <= 0) {
                                                   pins->count.erase(it);
                                               }
                                           }
                                       });
}

bool TileCache::pinned(const std::string& file) const
{
    const std::lock_guard lock(pins_->mutex);
    return pins_->count.count(file) > 0;
}

std::uint64_t TileCache::bytes()
{
    const std::lock_guard lock(mutex_);
    walkIfDue();
    return total_;
}

} // namespace mapservice
