#pragma once

// How an upstream's answer is read and kept: its outcome from the end of its transfer, and
// the cache entry made of it.
#include "common/httpclient.h"
#include "common/result.h"
#include "mapservice/network/bodycheck.h"
#include "mapservice/network/tilecache.h"

#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace mapservice {

// What an upstream's answer must be to be kept: a whole picture of |size| (see bodyProblem), or
// a document of at most |documentBytes| that |isDocument| accepts.
struct Expected {
    Expected(PictureSize size) : size(size) {} // NOLINT(google-explicit-constructor): mostly
    // A document of |kind| ("a WMTS capabilities document"), no picture.
    static Expected document(std::int64_t maxBytes, std::string kind,
                             std::function<bool(const std::string& text)> isDocument)
    {
        Expected e(PictureSize{});
        e.documentBytes = maxBytes;
        e.documentKind = std::move(kind);
        e.isDocument = std::move(isDocument);
        return e;
    }
    bool isDocumentKind() const { return documentBytes > 0; }

    PictureSize size;
    std::int64_t documentBytes = 0;
    std::string documentKind;
    std::function<bool(const std::string& text)> isDocument;
};

// What an answer's headers say of keeping it: whether it may be kept at all (not with
// "Cache-Control: no-store"), and its record: fresh for s-maxage, else max-age, else until
// Expires (counted from the answer's Date), else |defaultAge| seconds from |now|; "no-cache"
// revalidates it every time; its ETag and Last-Modified.
struct Keeping {
    bool store = true;
    TileCache::Record record;
};
Keeping keepingOf(const std::map<std::string, std::string>& headers, std::time_t now,
                  std::time_t defaultAge);

// The answer headers keepingOf reads, for common::http::Request::keep.
inline const std::vector<std::string> cachingHeaders{"ETag", "Last-Modified", "Cache-Control",
                                                     "Expires", "Date"};

// How the end of one transfer reads: a body to keep; a not-found error when the upstream has
// nothing there (404 or 204); or why it failed: a passing error (status 502) or a timed-out
// one (504), naming the host, the status or network error and what was asked for.
common::Status transferOutcome(const common::http::Ended& ended, const std::string& host,
                               const std::string& what, std::int64_t maxBodyBytes);

// What a stale entry, asked for again, gives: itself, its record renewed, when the upstream
// says it is unchanged (304); itself when the upstream is down (a network error, no answer in
// time, a 5xx status), which a line on standard error tells; else nothing (a new answer, or a
// refusal, counts). |what| names it; |now| is the wall time. Does the disk's work: not for the
// loop's thread.
std::optional<common::Result<std::string>>
staleAnswer(TileCache& cache, const std::string& key, const TileCache::Cached& stale,
            const common::http::Ended& ended, const common::Status& outcome,
            const std::string& what, std::time_t defaultAge, std::time_t now);

// |stale|'s picture, with a line of its own on standard error saying that it is served because
// of |reason|.
common::Result<std::string> servedStale(const TileCache::Cached& stale, const std::string& what,
                                        const std::string& reason);

// The picture a cache entry holds, or a not-found error naming |what| when it holds that there
// is nothing (or is gone).
common::Result<std::string> pictureOf(const std::optional<TileCache::Cached>& cached,
                                      const std::string& what);

// Keeps the answer in |temporary| (|bytes| long, read as |outcome|) in |cache| as |key|: a whole
// picture or document as |expected| as it is (a document is never kept as nothing there), nothing
// there (a not-found outcome, or an empty body) as such; the cached file, a not-found error, or why
// nothing was kept (a failed outcome, a body that is no such picture, a cache that cannot be
// written). An exception report (see owsexception.h) in place of the picture fails with the
// server's words, or is nothing there for a tile out of the grid's range. |what| names the answer
// in errors, and |contentType| as it came. |keeping|, when given, is what the upstream said of
// keeping a picture: its record goes beside it, or (when it may not be stored) the picture is
// checked and its temporary's file given, not stored. Does the disk's work: not for the loop's
// thread.
common::Result<std::string>
keepAnswer(TileCache& cache, const std::string& key, const std::string& what,
           const Expected& expected, std::int64_t maxBodyBytes, TileCache::Temporary& temporary,
           const common::Status& outcome, std::int64_t bytes, const std::string& contentType = {},
           const Keeping* keeping = nullptr, TileCache::Pin* pinned = nullptr);

// Records in |temporary|, then puts in place as |key|, that the upstream has nothing there; the
// not-found error for |what|, or why it could not be kept.
common::Result<std::string> storedNothing(TileCache& cache, const std::string& key,
                                          const std::string& what, TileCache::Temporary& temporary);

} // namespace mapservice
