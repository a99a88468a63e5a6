#pragma once

// The state of the service's side of the network (see Network in upstream.h): what is being
// fetched, the pictures waiting for it, and the connections and rates it keeps to. Used by
// upstream.cpp, which fetches, and upstreamwaiting.cpp, which hands answers to the pictures.
#include "mapservice/network/asioloop.h"
#include "mapservice/network/rategate.h"
#include "mapservice/network/upstream.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/thread_pool.hpp>

#include <atomic>
#include <chrono>
#include <deque>
#include <list>
#include <map>
#include <mutex>
#include <unordered_map>

namespace mapservice {

namespace asio = boost::asio;

struct Network::Private : std::enable_shared_from_this<Network::Private> {
    using Ended = common::http::Ended;
    using Fetched = common::Result<std::string>;

    struct Waiter {
        std::uint64_t id = 0;
        Wanted wanted;
        Done done;
        std::unique_ptr<Clock::Timer> deadline; // none when the picture has no deadline
    };

    // One key being looked up, fetched or stored, and the pictures waiting for it. Its fields
    // belong to the loop's thread; the temporary file goes to the pool with the body once it is in.
    struct Fetch {
        enum class Stage { LookingUp, Fetching, Storing };
        Stage stage = Stage::LookingUp;
        std::string host, url, key, what;
        Expected expected{PictureSize{}};
        std::int64_t maxBodyBytes = 0;
        std::shared_ptr<const Manners> manners;
        std::optional<TileCache::Cached> stale;          // the cache's entry, no longer fresh
        std::unique_ptr<Clock::Timer> staleAt;           // when the stale entry is served instead
        std::unique_ptr<TileCache::Temporary> temporary; // the body, as it arrives
        bool folderReady = false;     // the folder of its temporary was made when it was looked up
        bool madeRoom = false;        // the file system was full once, and the cache made room
        bool holdsConnection = false; // counted among its host's connections
        std::list<Waiter> waiters;
        std::unique_ptr<common::http::Transfer> http;
    };
    using FetchPtr = std::shared_ptr<Fetch>;

    Private(Options o, TileCache& c, asio::io_context& l)
        : options(std::move(o)), cache(c), loop(&l), client(std::make_unique<AsioCurlLoop>(l)),
          gates(std::make_unique<RateGates>(l, *options.clock))
    {}

    // A new request: joined to the same key in flight, answered from an entry found fresh
    // lately, or looked up in the cache on the pool, then fetched when it is not there.
    void take(const FetchPtr& asked, Waiter waiter);

    // Entries the cache's pool found fresh lately, by key: asked for again within a minute (and
    // while its record says it is fresh), one is answered on the loop without a turn on the
    // pool. Its use reaches the cache's order of use at its next lookup, a minute later at most.
    struct Known {
        TileCache::Cached cached;
        std::chrono::steady_clock::time_point until;
    };
    std::unordered_map<std::string, Known> known;
    // Answers |waiter| from the entry known for |key|, pinned; false when none is known, or it
    // is no longer fresh or no longer there.
    bool answerKnown(const std::string& key, const std::string& what, Waiter& waiter);

    void lookedUp(const FetchPtr& fetch, const std::optional<TileCache::Cached>& cached,
                  const Kept& pinned, bool folderReady);

    // A stale entry is served once half the time its first picture has is gone, whether the
    // request for it has started (a host's connections may all be busy) or not.
    void serveStaleInTime(const FetchPtr& fetch);

    // Asks for the body once its source's rate allows and one of its host's connections is
    // free.
    void start(const FetchPtr& fetch);

    // Asks for the body once one of its host's connections is free, the file it goes to made
    // first. libcurl's own limit per host would count all ports of a host together.
    void admit(const FetchPtr& fetch);

    // |fetch| no longer needs its connection: the next one waiting starts, of the first host in
    // turn that has a connection free.
    void release(Fetch& fetch);

    // Asks for the body, or delivers why it cannot be asked for.
    void launch(const FetchPtr& fetch);

    // The body is in, or the transfer failed: checked and stored on the pool.
    void transferEnded(Fetch* raw, const Ended& ended);

    // An answer that may not be cached, kept for the pictures that read it: removed on the pool
    // once the last of them lets go.
    Kept keepUnstored(std::unique_ptr<TileCache::Temporary> temporary);

    void fetchAgain(const FetchPtr& fetch, bool restarted,
                    std::unique_ptr<TileCache::Temporary> temporary);

    // A picture waits for |fetch| until it is done, over its deadline or abandoned.
    void wait(const FetchPtr& fetch, Waiter waiter);

    // Tells the picture |id| that it is over, unless it was told already; a transfer nobody
    // waits for any more stops.
    void drop(const FetchPtr& fetch, std::uint64_t id);

    void deliver(const FetchPtr& fetch, const Fetched& outcome, const Kept& kept = nullptr);

    bool isInFlight(const FetchPtr& fetch) const;

    // Runs |handler| on the loop's thread, unless the Network has gone by then (what the pool
    // hands back).
    template <typename Handler> void toLoop(Handler&& handler)
    {
        asio::post(*loop,
                   [self = shared_from_this(), handler = std::forward<Handler>(handler)]() mutable {
                       if (self->open) {
                           handler();
                       }
                   });
    }

    static Fetched overFor(const Waiter& waiter, const std::string& host, const std::string& what);

    const Options options;
    TileCache& cache;
    asio::thread_pool pool{2};    // the cache's work
    asio::io_context* const loop; // the service's, which serves its clients too
    // False once the Network has gone: what its pool hands back is dropped.
    std::atomic<bool> open{true};
    std::unique_ptr<AsioCurlLoop> client;
    std::map<std::string, FetchPtr> inFlight;           // by key
    std::uint64_t waiters = 0;                          // numbers them
    std::map<std::string, int> busyPerHost;             // connections in use, by host and port
    int busy = 0;                                       // connections in use in all
    std::map<std::string, std::deque<FetchPtr>> queued; // waiting for one, by host and port
    std::deque<std::string> turns;    // the hosts whose requests wait, in the order they are served
    std::unique_ptr<RateGates> gates; // by the sources' manners, on *loop
};

} // namespace mapservice
