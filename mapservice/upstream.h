#pragma once

#include "common/result.h"
#include "mapservice/bodycheck.h"
#include "mapservice/source.h"
#include "mapservice/tilecache.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace mapservice {

// What one upstream request gave: the cached file holding the body, or nothing when the
// upstream has nothing there (404, 204 or an empty body); or why it failed: a passing error
// (status 502) or a timed-out one (504), naming the host, the status or network error and what
// was asked for.
using Fetched = common::Result<std::optional<std::string>>;

// How the outcome of one transfer is read. |curlCode| is curl's result (0: the transfer ended
// well), |httpStatus| the upstream's status, |tooBig| whether the body passed the cap.
// A Fetched holding an empty file name stands for a body to be kept.
Fetched transferOutcome(int curlCode, const std::string& curlReason, long httpStatus, bool tooBig,
                        const std::string& host, const std::string& what,
                        std::int64_t maxBodyBytes);

// One upstream server: a thread of its own drives all transfers to it with libcurl, at most two
// connections at once, so that no wait for it holds any other thread, and a stuck server holds
// up nothing but its own pictures. Bodies go straight to disk, capped; what a transfer fetches
// is kept in the cache under its key, and a key already cached or being fetched is not asked
// for again.
class Upstream {
public:
    struct Options {
        std::string userAgent;
        std::int64_t maxBodyBytes = std::int64_t{16} << 20;
        int connections = 2;
    };
    Upstream(std::string host, Options options, TileCache& cache);
    ~Upstream(); // abandons what is in flight; nothing is called back any more
    Upstream(const Upstream&) = delete;
    Upstream& operator=(const Upstream&) = delete;

    // Fetches |url| into the cache as |key| (or finds it there) and calls |done| once, on the
    // upstream's thread. |what| names it in failures ("tile 12/2047/1361"). Once |wanted| is
    // over, |done| is called with a time-out (or, when abandoned, any failure) and the transfer
    // stops unless another picture still wants it.
    // A body is cached only when it is a whole picture of |size| (see bodyProblem); any other
    // fails the transfer with the reason.
    void fetch(std::string url, std::string key, std::string what, PictureSize size, Wanted wanted,
               std::function<void(Fetched)> done);

    const std::string& host() const { return host_; }

private:
    struct Private;
    const std::string host_;
    std::unique_ptr<Private> d_;
};

} // namespace mapservice
