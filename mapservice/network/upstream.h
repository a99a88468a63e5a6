#pragma once

#include "common/httpclient.h"
#include "common/result.h"
#include "mapservice/network/bodycheck.h"
#include "mapservice/network/tilecache.h"
#include "mapservice/network/upstreamanswer.h"
#include "mapservice/network/wanted.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace boost::asio {
class io_context;
} // namespace boost::asio

namespace mapservice {

// How one source asks its upstream: the header lines it sends with every request, and at most
// how many requests a second it starts (0: no limit beyond the connections).
struct Manners {
    std::vector<std::string> headers;
    double maxRate = 0;
};

// The service's side of the network: one HTTP client for every upstream (at most two
// connections to each host and port; more requests wait for one), driven by the loop that serves
// the clients, to which it is bound when it is made; and a small pool of two
// threads for the cache's work (looking up, checking and storing bodies, making room), so that none
// of it holds the loop. Bodies go straight to disk, capped; what a transfer fetches is kept in the
// cache under its key, and a key already cached or being fetched is not asked for again.
class Network {
public:
    // The file of an answer that may not be cached (no-store), handed with it to each picture
    // that waits for it: the file goes once the last of them lets go. Nothing for the others.
    using Kept = std::shared_ptr<const void>;
    using Done = std::function<void(common::Result<std::string> file, Kept kept)>;

    struct Options {
        std::string userAgent;
        std::int64_t maxBodyBytes = std::int64_t{16} << 20;
        long connectionsPerHost = 2;
        // How long an answer is kept whose upstream said nothing of it.
        std::time_t defaultAge = std::time_t{7} * 24 * 3600;
        // Transfers under way at once, to all hosts together; the hosts whose requests wait
        // are served in turn as transfers end.
        int transfersInAll = 64;
        const Clock* clock = &realClock();
    };
    // |loop| runs every transfer, timer and handler of the network; it must outlive it, and
    // not run while the network is destroyed.
    Network(Options options, TileCache& cache, boost::asio::io_context& loop);
    ~Network(); // abandons what is in flight; nothing is called back any more
    Network(const Network&) = delete;
    Network& operator=(const Network&) = delete;

    // Fetches |url| from |host| into the cache as |key| (or finds it there) and calls |done|
    // once, on the loop's thread, with the cached file, a not-found error when the upstream
    // has nothing there (404, 204 or an empty body), or why it failed; may be called from any
    // thread (it starts on the loop). |what| names it in failures
    // ("tile 12/2047/1361"). Once |wanted| is over, |done| is called with a time-out (or, when
    // abandoned, any failure) and the transfer stops unless another picture still wants it.
    // A body is cached only when it is what is |expected| (a document has a cap of its own);
    // any other fails the transfer with the reason.
    // |manners|, when given, are its source's: the requests of one source start at most its
    // rate apart.
    void fetch(const std::string& host, std::string url, std::string key, std::string what,
               Expected expected, Wanted wanted, Done done,
               std::shared_ptr<const Manners> manners = nullptr);

    // Runs |work| on the cache's pool, then |then| on the loop's thread (unless the network
    // has gone meanwhile): for reading what was fetched without holding the loop. From the
    // loop's thread.
    void offLoop(std::function<void()> work, std::function<void()> then);

    const Clock& clock() const;

    struct Private;

private:
    std::shared_ptr<Private> d_;
};

// One upstream server, by host and port, as failures name it.
class Upstream {
public:
    Upstream(std::string host, Network& network) : host_(std::move(host)), network_(network) {}

    void fetch(std::string url, std::string key, std::string what, Expected expected, Wanted wanted,
               Network::Done done, std::shared_ptr<const Manners> manners = nullptr)
    {
        network_.fetch(host_, std::move(url), std::move(key), std::move(what), std::move(expected),
                       std::move(wanted), std::move(done), std::move(manners));
    }
    const std::string& host() const { return host_; }
    Network& network() const { return network_; }

private:
    const std::string host_;
    Network& network_;
};

} // namespace mapservice
