#include "mapservice/tilecache.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <string_view>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace mapservice {

namespace {

namespace fs = std::filesystem;

// What records that the upstream has nothing there. No picture begins so.
constexpr std::string_view nothingThere = "mapservice: nothing there\n";

std::string systemReason()
{
    return std::error_code(errno, std::generic_category()).message();
}

} // namespace

TileCache::TileCache(std::string folder, std::uint64_t maxBytes, std::time_t maxAge)
    : folder_(std::move(folder)), maxBytes_(maxBytes), maxAge_(maxAge)
{}

void TileCache::loadOnce()
{
    if (loaded_) {
        return;
    }
    loaded_ = true;
    std::error_code ec;
    const std::time_t now = std::time(nullptr);
    std::vector<std::pair<std::time_t, std::string>> byAccess; // what was used last comes last
    for (fs::recursive_directory_iterator it(folder_, ec), end; !ec && it != end;
         it.increment(ec)) {
        struct stat status {};
        if (::lstat(it->path().c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
            continue;
        }
        if (it->path().filename().native().front() == '.') {
            // A temporary whose writer was killed; one still being written is younger.
            if (now - status.st_mtime > 3600) {
                ::unlink(it->path().c_str());
            }
            continue;
        }
        const auto size = static_cast<std::uint64_t>(status.st_size);
        entries_[it->path().native()] = {size, 0};
        byAccess.emplace_back(status.st_atime, it->path().native());
        total_ += size;
    }
    std::sort(byAccess.begin(), byAccess.end());
    for (const auto& [time, file] : byAccess) {
        entries_[file].used = ++uses_;
    }
}

std::optional<TileCache::Cached> TileCache::find(const std::string& key)
{
    const std::string file = path(key);
    struct stat status {};
    if (::stat(file.c_str(), &status) != 0 || !S_ISREG(status.st_mode) || status.st_size == 0 ||
        std::time(nullptr) - status.st_mtime > maxAge_) {
        return std::nullopt;
    }
    bool nothing = false;
    if (static_cast<std::size_t>(status.st_size) == nothingThere.size()) {
        char start[nothingThere.size()] = {};
        std::FILE* f = std::fopen(file.c_str(), "rbe");
        nothing = f != nullptr && std::fread(start, 1, sizeof start, f) == sizeof start &&
                  std::string_view(start, sizeof start) == nothingThere;
        if (f != nullptr) {
            std::fclose(f);
        }
    }
    // The access time orders the entries by use; the modification time is the fetch's.
    const timespec times[2] = {{0, UTIME_NOW}, {0, UTIME_OMIT}};
    ::utimensat(AT_FDCWD, file.c_str(), times, 0);
    const std::lock_guard lock(mutex_);
    loadOnce();
    if (const auto it = entries_.find(file); it != entries_.end()) {
        it->second.used = ++uses_;
    }
    return Cached{file, nothing};
}

common::Result<std::string> TileCache::temporaryFor(const std::string& key)
{
    const fs::path file = path(key);
    std::error_code ec;
    // Its reason (a read-only cache, one of another user's) is the one to tell: the file's own
    // would only say that the folder is not there.
    if (!fs::create_directories(file.parent_path(), ec) && ec) {
        return common::permanent("the tile cache " + folder_ +
                                 " cannot be written: " + ec.message());
    }
    std::string name = (file.parent_path() / ("." + file.filename().native() + ".XXXXXX")).native();
    const int fd = ::mkstemp(name.data());
    if (fd < 0) {
        return common::permanent("the tile cache " + folder_ +
                                 " cannot be written: " + systemReason());
    }
    ::close(fd);
    return name;
}

common::Status TileCache::store(const std::string& key, const std::string& temporary)
{
    const std::string file = path(key);
    struct stat status {};
    if (::stat(temporary.c_str(), &status) != 0 || ::rename(temporary.c_str(), file.c_str()) != 0) {
        const std::string reason = systemReason();
        ::unlink(temporary.c_str());
        return common::permanent("the tile cache " + folder_ + " cannot be written: " + reason);
    }
    const std::lock_guard lock(mutex_);
    loadOnce();
    const auto size = static_cast<std::uint64_t>(status.st_size);
    auto [it, added] = entries_.try_emplace(file, Entry{size, ++uses_});
    if (!added) {
        total_ -= it->second.size;
        it->second = {size, uses_};
    }
    total_ += size;
    evict();
    return {};
}

common::Status TileCache::storeNothing(const std::string& key, const std::string& temporary)
{
    std::FILE* marker = std::fopen(temporary.c_str(), "wbe");
    const bool written =
        marker != nullptr &&
        std::fwrite(nothingThere.data(), 1, nothingThere.size(), marker) == nothingThere.size();
    if (marker == nullptr || std::fclose(marker) != 0 || !written) {
        const std::string reason = systemReason();
        ::unlink(temporary.c_str());
        return common::permanent("the tile cache " + folder_ + " cannot be written: " + reason);
    }
    return store(key, temporary);
}

void TileCache::evict()
{
    if (total_ <= maxBytes_) {
        return;
    }
    // Down to nine tenths of the limit, so that the sorting is not done again at every store.
    std::vector<std::pair<std::uint64_t, std::string>> byUse;
    byUse.reserve(entries_.size());
    for (const auto& [file, entry] : entries_) {
        byUse.emplace_back(entry.used, file);
    }
    std::sort(byUse.begin(), byUse.end());
    for (const auto& [used, file] : byUse) {
        if (total_ <= maxBytes_ / 10 * 9) {
            break;
        }
        ::unlink(file.c_str());
        total_ -= entries_[file].size;
        entries_.erase(file);
    }
}

std::uint64_t TileCache::bytes()
{
    const std::lock_guard lock(mutex_);
    loadOnce();
    return total_;
}

} // namespace mapservice
