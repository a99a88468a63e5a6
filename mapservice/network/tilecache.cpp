#include "mapservice/network/tilecache.h"

#include "common/readfile.h"
#include "mapservice/network/tilecachefiles.h"

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

std::string systemReason(int error = errno)
{
    return std::error_code(error, std::generic_category()).message();
}

bool diskFull(int error)
{
    return error == ENOSPC || error == EDQUOT;
}

} // namespace

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

namespace {

constexpr std::string_view recordHeader = "mapservice cache record 1\n";
using cachefiles::recordSuffix;

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
    const bool fresh = limits_.clock->wall() <= expires;
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

bool TileCache::prepareFolderFor(const std::string& key)
{
    std::error_code ec;
    const fs::path folder = fs::path(path(key)).parent_path();
    return fs::create_directories(folder, ec) || !ec;
}

std::unique_ptr<TileCache::Temporary> TileCache::openTemporary(const std::string& key) const
{
    std::unique_ptr<Temporary> temporary(new Temporary(path(key)));
    temporary->file_.open();
    if (temporary->error()) {
        return nullptr;
    }
    return temporary;
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

} // namespace mapservice
