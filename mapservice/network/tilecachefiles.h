#pragma once

// What the two halves of the tile cache share (tilecache.cpp: its entries; tilecachefolder.cpp:
// the folder as a whole, its walks, evictions and pins): the names of its own files, and the
// lock that services sharing the folder take turns on. Only for those two files.
#include "mapservice/network/tilecache.h"

#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <string>
#include <sys/file.h>
#include <unistd.h>

namespace mapservice {

namespace cachefiles {

// The file a service locks while it counts or evicts, so that services sharing the folder take
// turns; it holds the folder's size as they keep it between walks.
inline constexpr const char* evictionLock = ".evict.lock";
// What the upstream said of an entry goes beside it, in a file of this ending.
inline constexpr const char* recordSuffix = ".rec";

inline bool isRecord(const std::string& file)
{
    return file.size() > 4 && file.compare(file.size() - 4, 4, recordSuffix) == 0;
}

} // namespace cachefiles

// The lock file, held while it lives; where it cannot be had, nothing is shared.
class TileCache::FolderLock {
public:
    explicit FolderLock(const std::string& folder)
        : fd_(::open((folder + "/" + cachefiles::evictionLock).c_str(),
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

} // namespace mapservice
