#pragma once

#include "common/result.h"

#include <cstdint>
#include <ctime>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

namespace mapservice {

// Upstream answers on disk, one file per key ("<source>/<z>/<x>/<y>"), kept below a size
// limit by dropping the least recently used first. A file appears under its name only when it
// is whole. A marker of its own records that the upstream has nothing there (404 or 204); an
// empty file, which an earlier version wrote for it, counts as no entry. Entries older than
// |maxAge| seconds are fetched again. Safe to use from several threads; several
// processes may share the folder, each keeping its own count.
class TileCache {
public:
    TileCache(std::string folder, std::uint64_t maxBytes,
              std::time_t maxAge = std::time_t{7} * 24 * 3600);

    // What the cache holds for a key: the file of a picture, or that there is nothing there.
    struct Cached {
        std::string file;
        bool nothing = false;
    };
    // The entry of |key|, when the cache holds a fresh one; marks it used.
    std::optional<Cached> find(const std::string& key);

    // A new hidden file beside where |key| goes, for an answer to be written into.
    common::Result<std::string> temporaryFor(const std::string& key);

    // Puts the whole file |temporary| in place as |key|, then drops the least recently used
    // entries until the cache is within its limit again.
    common::Status store(const std::string& key, const std::string& temporary);
    // Records in |temporary|, then puts in place as |key|, that the upstream has nothing there.
    common::Status storeNothing(const std::string& key, const std::string& temporary);

    std::uint64_t bytes();

private:
    struct Entry {
        std::uint64_t size;
        std::uint64_t used; // the order of use: larger is later
    };
    void loadOnce();
    void evict();
    std::string path(const std::string& key) const { return folder_ + "/" + key; }

    const std::string folder_;
    const std::uint64_t maxBytes_;
    const std::time_t maxAge_;
    std::mutex mutex_;
    bool loaded_ = false;
    std::unordered_map<std::string, Entry> entries_; // by path
    std::uint64_t total_ = 0;
    std::uint64_t uses_ = 0;
};

} // namespace mapservice
