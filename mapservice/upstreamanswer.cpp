#include "mapservice/upstreamanswer.h"

#include "common/redirect.h"

namespace mapservice {

namespace {

using common::http::Ended;
using common::http::Failure;

std::string megabytes(std::int64_t bytes)
{
    return std::to_string(bytes >> 20) + " MB";
}

} // namespace

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

// The picture a cache entry holds, or that there is nothing.
common::Result<std::string> pictureOf(const std::optional<TileCache::Cached>& cached,
                                      const std::string& what)
{
    if (cached && !cached->nothing) {
        return cached->file;
    }
    return common::notFound(what + ": nothing there");
}

common::Result<std::string> keepAnswer(TileCache& cache, const std::string& key,
                                       const std::string& what, PictureSize size,
                                       std::int64_t maxBodyBytes, TileCache::Temporary& temporary,
                                       const common::Status& outcome, std::int64_t bytes)
{
    const bool notFound = !outcome.ok() && outcome.error().kind == common::ErrorKind::NotFound;
    if (!outcome.ok() && !notFound) {
        return outcome.error();
    }
    const bool nothing = notFound || bytes == 0; // an empty body is nothing there too
    if (!nothing) {
        if (const auto problem =
                fileProblem(temporary.path(), size, static_cast<std::size_t>(maxBodyBytes))) {
            return common::passing(what + " is " + *problem, 502);
        }
    }
    const common::Status stored =
        nothing ? cache.storeNothing(key, temporary) : cache.store(key, temporary);
    if (!stored) {
        return stored.error();
    }
    return pictureOf(cache.find(key), what);
}

} // namespace mapservice
