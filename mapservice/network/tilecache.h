#pragma once

#include "common/result.h"
#include "common/wholefile.h"
#include "mapservice/network/clock.h"

#include <chrono>
#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

namespace mapservice {

// Upstream answers on disk, one file per key ("<source>/<z>/<x>/<y>"), kept below a size
// limit by dropping the least recently used first. A file appears under its name only when it
// is whole. A marker of its own records that the upstream has nothing there (404 or 204); an
// empty file, which an earlier version wrote for it, counts as no entry. Entries older than
// |maxAge| seconds are fetched again. Safe to use from several threads.
//
// Several services may share the folder: each counts what the folder holds by a walk at start
// and every |walkEvery|; between walks they keep the folder's size, records included, in the
// lock file in the folder, each store and eviction updating it under the lock, so that two
// never evict at once and each sees the other's writes. An entry is written as a common::WholeFile,
// not flushed to disk (a power cut may lose the newest entries, never show a partial one); the
// temporaries of writers that died are removed at start and every |sweepEvery|, whatever
// their age.
class TileCache {
public:
    struct Limits {
        std::uint64_t maxBytes = std::uint64_t{2048} << 20;
        std::time_t maxAge = std::time_t{7} * 24 * 3600;
        std::chrono::seconds walkEvery{600};
        std::chrono::seconds sweepEvery{3600};
        const Clock* clock = &realClock(); // what fresh is measured by
    };
    TileCache(std::string folder, Limits limits);

    // What the upstream said of an answer, kept beside it in "<file>.rec": until when it is
    // fresh, whether it must be asked again every time, and its validators. An entry without
    // one (as earlier versions wrote them) is fresh for |maxAge| from its file's time.
    struct Record {
        std::time_t expires = 0;
        bool revalidate = false; // "no-cache": stale at once, kept for its validators
        std::string etag;
        std::string lastModified;
    };
    // The record beside |file|, if there is one that can be read.
    static std::optional<Record> recordOf(const std::string& file);
    // Until when the entry |file| is fresh.
    std::time_t expiresOf(const std::string& file);

    // What the cache holds for a key: the file of a picture, or that there is nothing there.
    struct Cached {
        std::string file;
        bool nothing = false;
        bool fresh = true;
        std::optional<Record> record;
    };
    // The entry of |key|, when the cache holds a fresh one; marks it used.
    std::optional<Cached> find(const std::string& key);
    // A token that keeps an entry from eviction while it lives (see pin).
    using Pin = std::shared_ptr<const void>;

    // The entry of |key|, fresh or stale (then to be asked again with its validators, and
    // served when the upstream cannot answer); marks it used. A fresh picture is pinned into
    // |pin| when one is given, before any eviction can take it.
    std::optional<Cached> lookup(const std::string& key, Pin* pin = nullptr);

    // A hidden file being written beside where its key goes, locked while this object lives and
    // removed with it unless it was stored.
    class Temporary {
    public:
        Temporary(const Temporary&) = delete;
        Temporary& operator=(const Temporary&) = delete;
        const std::string& path() const { return file_.temporary(); }
        // Appends |size| bytes; false, with errno set, when that fails.
        bool write(const char* data, std::size_t size);
        // Empties it, for an answer that starts again; false when that fails.
        bool restart();
        // The first failure to write, if any; a full file system is told apart.
        const std::optional<common::Error>& error() const { return file_.error(); }
        bool diskFull() const { return file_.diskFull(); }

    private:
        friend class TileCache;
        explicit Temporary(std::string target)
            : file_(std::move(target), common::WholeFile::Durability::Unsynced)
        {}
        common::WholeFile file_;
    };
    // A new temporary for |key|. A full file system makes room and is tried once more.
    common::Result<std::unique_ptr<Temporary>> temporaryFor(const std::string& key);
    // Makes the folder |key|'s temporary goes to, so that opening it later is one quick call;
    // false when it cannot be made (temporaryFor then tells why).
    bool prepareFolderFor(const std::string& key);
    // A new temporary for |key| in its prepared folder, without making room; nothing when it
    // cannot be opened (temporaryFor then makes room or tells why).
    std::unique_ptr<Temporary> openTemporary(const std::string& key) const;

    // Puts the whole |written| in place as |key|, with |record| beside it when given, then drops
    // the least recently used entries not in use until the cache is within its limit again.
    // The body goes first: a crash between leaves a body with its older record or none, whose
    // validators the upstream then refuses.
    // The entry is pinned into |pin|, when one is given, before the eviction that may follow.
    common::Status store(const std::string& key, Temporary& written,
                         const std::optional<Record>& record = std::nullopt, Pin* pin = nullptr);
    // Replaces the record of |key|'s entry: the upstream said it is unchanged (304).
    common::Status renew(const std::string& key, const Record& record);
    // Records in |written|, then puts in place as |key|, that the upstream has nothing there.
    common::Status storeNothing(const std::string& key, Temporary& written);

    // The file system is full: drops the entries not in use down to half of what the cache
    // holds (or of its limit, when it holds more).
    void makeRoom();

    // The error of a file system that is full once all it could drop has gone: a 503, to be
    // asked again.
    static common::Error cacheFull();

    // Keeps the entry |file| (found or stored) while the token lives: a picture being drawn
    // from it holds one, and eviction passes over it, even past the limit.
    Pin pin(const std::string& file);

    std::uint64_t bytes();

private:
    using SteadyClock = std::chrono::steady_clock;
    struct Entry {
        std::uint64_t size = 0;
        std::uint64_t used = 0;         // the order of use: larger is later
        SteadyClock::time_point last{}; // of the latest use by this service
    };
    void walkIfDue();
    void walk();
    void sweepTemporaries();
    // Drops the least recently used entries that no picture pins until the folder is within
    // |target| bytes, holding |folder|'s lock.
    class FolderLock;
    void evictLocked(std::uint64_t target, const FolderLock& folder);
    std::string path(const std::string& key) const { return folder_ + "/" + key; }

    struct Pins {
        std::mutex mutex;
        std::unordered_map<std::string, int> count; // by path
    };
    bool pinned(const std::string& file) const;

    const std::string folder_;
    const Limits limits_;
    const std::shared_ptr<Pins> pins_ = std::make_shared<Pins>();
    std::mutex mutex_;
    bool walked_ = false;
    SteadyClock::time_point lastWalk_{};
    SteadyClock::time_point lastSweep_{};
    std::unordered_map<std::string, Entry> entries_; // by path
    std::uint64_t total_ = 0;
    std::uint64_t uses_ = 0;
};

} // namespace mapservice
