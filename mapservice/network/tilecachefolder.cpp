// The tile cache's folder as a whole: walks that count it, the sweep of dead writers'
// temporaries, the pins of pictures being drawn, and eviction down to the limit.
#include "common/wholefile.h"
#include "mapservice/network/tilecachefiles.h"

#include <algorithm>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>
#include <tuple>
#include <vector>

namespace mapservice {

namespace fs = std::filesystem;
using cachefiles::evictionLock;
using cachefiles::isRecord;
using cachefiles::recordSuffix;

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
