#include "mapservice/network/upstreamanswer.h"

#include "common/printable.h"
#include "common/readfile.h"
#include "common/redirect.h"
#include "mapservice/protocol/owsexception.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <curl/curl.h>
#include <unistd.h>

namespace mapservice {

namespace {

using common::http::Ended;
using common::http::Failure;

std::string megabytes(std::int64_t bytes)
{
    return std::to_string(bytes >> 20) + " MB";
}

} // namespace

Keeping keepingOf(const std::map<std::string, std::string>& headers, std::time_t now,
                  std::time_t defaultAge)
{
    const auto header = [&headers](const char* name) {
        const auto it = headers.find(name);
        return it == headers.end() ? std::string() : it->second;
    };
    Keeping keeping;
    keeping.record.etag = header("ETag");
    keeping.record.lastModified = header("Last-Modified");
    std::optional<long long> maxAge;
    std::optional<long long> sharedMaxAge;
    const std::string control = header("Cache-Control");
    for (std::size_t start = 0; start < control.size();) {
        const std::size_t end = std::min(control.find(',', start), control.size());
        std::string directive = control.substr(start, end - start);
        start = end + 1;
        directive.erase(0, directive.find_first_not_of(" \t"));
        directive.erase(directive.find_last_not_of(" \t") + 1);
        std::transform(directive.begin(), directive.end(), directive.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        const auto seconds = [&directive](const char* name) -> std::optional<long long> {
            const std::size_t n = std::strlen(name);
            if (directive.compare(0, n, name) != 0) {
                return std::nullopt;
            }
            // A year at most: the time a far larger age would end at overflows.
            constexpr long long year = 365LL * 24 * 3600;
            char* after = nullptr;
            const long long value = std::strtoll(directive.c_str() + n, &after, 10);
            return after != directive.c_str() + n ? std::optional(std::clamp(value, 0LL, year))
                                                  : std::nullopt;
        };
        if (directive == "no-store") {
            keeping.store = false;
        } else if (directive == "no-cache") {
            keeping.record.revalidate = true;
        } else if (const auto age = seconds("max-age=")) {
            maxAge = age;
        } else if (const auto shared = seconds("s-maxage=")) {
            sharedMaxAge = shared;
        }
    }
    if (sharedMaxAge || maxAge) {
        keeping.record.expires =
            now + static_cast<std::time_t>(sharedMaxAge ? *sharedMaxAge : *maxAge);
    } else if (const std::string expires = header("Expires"); !expires.empty()) {
        // An Expires that is no date ("0") has expired; one is counted from the answer's own
        // Date, so that the two clocks need not agree.
        const std::time_t until = curl_getdate(expires.c_str(), nullptr);
        const std::time_t date = curl_getdate(header("Date").c_str(), nullptr);
        keeping.record.expires = until < 0 ? now - 1 : date < 0 ? until : now + (until - date);
    } else {
        keeping.record.expires = now + defaultAge;
    }
    return keeping;
}

common::Result<std::string> servedStale(const TileCache::Cached& stale, const std::string& what,
                                        const std::string& reason)
{
    const std::string line = "mapservice: " + common::printable(what) +
                             ": served stale from the cache, as " + common::printable(reason) +
                             "\n";
    (void)!::write(STDERR_FILENO, line.data(), line.size()); // one line, whole
    return pictureOf(stale, what);
}

std::optional<common::Result<std::string>>
staleAnswer(TileCache& cache, const std::string& key, const TileCache::Cached& stale,
            const Ended& ended, const common::Status& outcome, const std::string& what,
            std::time_t defaultAge, std::time_t now)
{
    if (ended.failure == Failure::None && ended.status == 304) {
        Keeping keeping = keepingOf(ended.headers, now, defaultAge);
        if (stale.record) {
            // The body kept is the one its stored tag names: a 304 bringing another tag (which
            // a 304 should not) does not name it anew. A 304 need not repeat Last-Modified.
            keeping.record.etag = stale.record->etag;
            if (keeping.record.lastModified.empty()) {
                keeping.record.lastModified = stale.record->lastModified;
            }
        }
        // Unrenewed (a cache that cannot be written), it is asked for again next time.
        static_cast<void>(cache.renew(key, keeping.record));
        return pictureOf(stale, what);
    }
    const bool down = ended.failure != Failure::None || ended.status >= 500;
    if (outcome.ok() || !down) {
        return std::nullopt;
    }
    return servedStale(stale, what, outcome.error().text);
}

common::Status transferOutcome(const Ended& ended, const std::string& host, const std::string& what,
                               std::int64_t maxBodyBytes)
{
    const std::string from = "upstream " + host + ": ";
    switch (ended.failure) {
    case Failure::None:
        break;
    case Failure::TooLarge:
        return common::passing(from + what + " is larger than " + megabytes(maxBodyBytes), 502);
    case Failure::TimedOut:
        return common::timedOut(from + "no answer in time for " + what, 504);
    case Failure::HeaderTooLarge:
        return common::passing(from + "header too large (" + what + ")", 502);
    case Failure::RedirectWithoutPlace:
        return common::passing(from + what + " was redirected without a place", 502);
    case Failure::RedirectElsewhere:
        return common::passing(from + what + " was redirected to another host, " + ended.elsewhere +
                                   ", which is not followed",
                               502);
    case Failure::TooManyRedirects:
        return common::passing(from + what + " was redirected more than " +
                                   std::to_string(common::maxRedirects) + " times",
                               502);
    default:
        return common::passing(from + ended.message + " (" + what + ")", 502);
    }
    if (ended.status == 404 || ended.status == 204) {
        return common::notFound(from + "nothing there for " + what); // no data, not a failure
    }
    if (ended.status < 200 || ended.status > 299) {
        return common::passing(from + "status " + std::to_string(ended.status) + " for " + what,
                               502);
    }
    return {};
}

common::Result<std::string> storedNothing(TileCache& cache, const std::string& key,
                                          const std::string& what, TileCache::Temporary& temporary)
{
    if (const common::Status stored = cache.storeNothing(key, temporary); !stored) {
        return stored.error();
    }
    return pictureOf(cache.find(key), what);
}

// The picture a cache entry holds, or that there is nothing.
common::Result<std::string> pictureOf(const std::optional<TileCache::Cached>& cached,
                                      const std::string& what)
{
    if (cached && !cached->nothing) {
        return cached->file;
    }
    return common::notFound(what + ": nothing there");
}

namespace {

// The exception report the answer in |path| is, if it is one: servers answer with one where they
// cannot or will not give the picture, some with status 200, others with an error status.
std::optional<OwsException> exceptionIn(const std::string& path, std::int64_t bytes)
{
    constexpr std::int64_t mostRead = 64 << 10; // a report is a few lines
    if (bytes <= 0 || bytes > mostRead) {
        return std::nullopt;
    }
    const auto body = common::readUpTo(path, static_cast<std::size_t>(bytes));
    return body ? owsException(*body) : std::nullopt;
}

// A document is kept only when it is one: a failed fetch or a page of another kind is asked for
// again, not kept for as long as a document would be.
common::Result<std::string> keepDocument(TileCache& cache, const std::string& key,
                                         const std::string& what, const Expected& expected,
                                         TileCache::Temporary& temporary,
                                         const common::Status& outcome, std::int64_t bytes,
                                         const std::string& contentType, const Keeping* keeping)
{
    const std::string text =
        common::readUpTo(temporary.path(),
                         static_cast<std::size_t>(std::min(bytes, expected.documentBytes)))
            .value_or("");
    const auto exception = owsException(text);
    if (exception && (!outcome.ok() || !expected.isDocument(text))) {
        return common::passing(what + ": the server answers with an exception: " + exception->text,
                               502);
    }
    if (!outcome.ok()) {
        const common::Error& error = outcome.error();
        // Nothing there is a failure for a document, not a tile left out.
        return error.kind == common::ErrorKind::NotFound ? common::passing(error.text, 502) : error;
    }
    if (bytes == 0) {
        return common::passing(what + " is empty", 502);
    }
    if (!expected.isDocument(text)) {
        return common::passing(what + " is no " + expected.documentKind + " but " +
                                   std::to_string(bytes) + " bytes" +
                                   (contentType.empty() ? "" : " of " + contentType),
                               502);
    }
    // A document that may not be stored is kept only to be asked for again with the next
    // picture: the source reads it at once.
    std::optional<TileCache::Record> record;
    if (keeping != nullptr) {
        record = keeping->record;
        record->revalidate = record->revalidate || !keeping->store;
    }
    if (const common::Status stored = cache.store(key, temporary, record); !stored) {
        return stored.error();
    }
    return pictureOf(cache.lookup(key), what);
}

} // namespace

common::Result<std::string> keepAnswer(TileCache& cache, const std::string& key,
                                       const std::string& what, const Expected& expected,
                                       std::int64_t maxBodyBytes, TileCache::Temporary& temporary,
                                       const common::Status& outcome, std::int64_t bytes,
                                       const std::string& contentType, const Keeping* keeping,
                                       TileCache::Pin* pinned)
{
    if (expected.isDocumentKind()) {
        return keepDocument(cache, key, what, expected, temporary, outcome, bytes, contentType,
                            keeping);
    }
    const PictureSize size = expected.size;
    const bool notFound = !outcome.ok() && outcome.error().kind == common::ErrorKind::NotFound;
    const bool statusFailed = !outcome.ok() && outcome.error().kind == common::ErrorKind::Passing;
    std::optional<std::string> problem;
    if (outcome.ok() && bytes > 0) {
        problem = fileProblem(temporary.path(), size, static_cast<std::size_t>(maxBodyBytes));
    }
    if (problem || statusFailed) {
        if (const auto exception = exceptionIn(temporary.path(), bytes)) {
            if (exception->code == "TileOutOfRange") { // the grid has no tile there
                return storedNothing(cache, key, what, temporary);
            }
            return common::passing(
                what + ": the server answers with an exception: " + exception->text, 502);
        }
    }
    if (!outcome.ok() && !notFound) {
        return outcome.error();
    }
    if (problem) {
        return common::passing(
            what + " is " + *problem + (contentType.empty() ? "" : " (" + contentType + ")"), 502);
    }
    const bool nothing = notFound || bytes == 0; // an empty body is nothing there too
    if (nothing) {
        return storedNothing(cache, key, what, temporary);
    }
    if (keeping != nullptr && !keeping->store) {
        return temporary.path(); // read by the picture, never entered in the cache
    }
    const auto record = keeping != nullptr ? std::optional(keeping->record) : std::nullopt;
    if (const common::Status stored = cache.store(key, temporary, record, pinned); !stored) {
        return stored.error();
    }
    // As it is now: a record that says it is stale at once is still this picture's answer.
    return pictureOf(cache.lookup(key), what);
}

} // namespace mapservice
