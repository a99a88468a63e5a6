// Handing fetched answers to the pictures that wait for them: each until it is done, over its
// deadline or abandoned; a stale entry served in time; answers that may not be cached held.
#include "common/printable.h"
#include "mapservice/network/upstreamanswer.h"
#include "mapservice/network/upstreamstate.h"

#include <algorithm>

namespace mapservice {

using Fetched = Network::Private::Fetched;
using Fetch = Network::Private::Fetch;
using FetchPtr = Network::Private::FetchPtr;
using Waiter = Network::Private::Waiter;

// A stale entry is served once half the time its first picture has is gone, whether the
// request for it has started (a host's connections may all be busy) or not.
void Network::Private::serveStaleInTime(const FetchPtr& fetch)
{
    const auto deadline = fetch->waiters.front().wanted.deadline;
    const Clock& clock = *options.clock;
    const auto now = clock.steady();
    if (deadline == std::chrono::steady_clock::time_point::max() || deadline <= now) {
        return;
    }
    fetch->staleAt = clock.at(
        *loop, now + (deadline - now) / 2,
        [self = weak_from_this(), weak = std::weak_ptr<Fetch>(fetch)] {
            const auto me = self.lock();
            const auto fetch = weak.lock();
            if (!me || !fetch || !me->isInFlight(fetch) || fetch->stage != Fetch::Stage::Fetching) {
                return;
            }
            const std::string what = "upstream " + fetch->host + ": " + fetch->what;
            me->deliver(
                fetch,
                servedStale(*fetch->stale, what, "upstream " + fetch->host + ": no answer in time"),
                me->cache.pin(fetch->stale->file));
            if (fetch->temporary) {
                asio::post(me->pool, [t = std::move(fetch->temporary)] {}); // removed there
            }
        });
}

// An answer that may not be cached, kept for the pictures that read it: removed on the pool
// once the last of them lets go (at once when the network has gone).
Network::Kept Network::Private::keepUnstored(std::unique_ptr<TileCache::Temporary> temporary)
{
    return std::shared_ptr<const TileCache::Temporary>(
        temporary.release(), [self = weak_from_this()](const TileCache::Temporary* file) {
            if (const auto me = self.lock()) {
                asio::post(me->pool, [file] { delete file; }); // removed there
            } else {
                delete file;
            }
        });
}

// A picture waits for |fetch| until it is done, over its deadline or abandoned.
void Network::Private::wait(const FetchPtr& fetch, Waiter waiter)
{
    waiter.id = ++waiters;
    fetch->waiters.push_back(std::move(waiter));
    const auto at = std::prev(fetch->waiters.end());
    const std::weak_ptr<Fetch> weak = fetch;
    const auto giveUp = [self = weak_from_this(), weak, id = at->id] {
        const auto me = self.lock();
        const auto fetch = weak.lock();
        if (me && fetch) {
            me->drop(fetch, id);
        }
    };
    if (at->wanted.deadline != std::chrono::steady_clock::time_point::max()) {
        at->deadline = options.clock->at(*loop, at->wanted.deadline, giveUp);
    }
    at->wanted.abandoned->onSet([self = weak_from_this(), giveUp] {
        if (const auto me = self.lock()) {
            asio::post(*me->loop, giveUp); // after what sets it, which may be a waiter's end
        }
    });
}

// Tells the picture |id| that it is over, unless it was told already; a transfer nobody
// waits for any more stops.
void Network::Private::drop(const FetchPtr& fetch, std::uint64_t id)
{
    const auto at = std::find_if(fetch->waiters.begin(), fetch->waiters.end(),
                                 [id](const Waiter& w) { return w.id == id; });
    if (!isInFlight(fetch) || at == fetch->waiters.end()) {
        return; // delivered or dropped meanwhile
    }
    Waiter waiter = std::move(*at);
    fetch->waiters.erase(at);
    if (fetch->waiters.empty()) {
        inFlight.erase(fetch->key);
        fetch->http.reset();
        release(*fetch);
        if (fetch->stage == Fetch::Stage::Fetching) {
            asio::post(pool, [temporary = std::move(fetch->temporary)] {}); // removed there
        }
    }
    waiter.deadline.reset();
    waiter.done(overFor(waiter, fetch->host, fetch->what), nullptr);
}

void Network::Private::deliver(const FetchPtr& fetch, const Fetched& outcome, const Kept& kept)
{
    if (!isInFlight(fetch)) {
        return;
    }
    inFlight.erase(fetch->key);
    fetch->http.reset();
    release(*fetch);
    for (Waiter& waiter : std::exchange(fetch->waiters, {})) {
        waiter.deadline.reset();
        waiter.done(outcome, kept);
    }
}

bool Network::Private::isInFlight(const FetchPtr& fetch) const
{
    const auto it = inFlight.find(fetch->key);
    return it != inFlight.end() && it->second == fetch;
}

Network::Private::Fetched Network::Private::overFor(const Waiter& waiter, const std::string& host,
                                                    const std::string& what)
{
    if (waiter.wanted.abandoned->isSet()) {
        return common::passing("upstream " + host + ": " + what + " no longer wanted", 502);
    }
    return common::timedOut("upstream " + host + ": no answer in time for " + what, 504);
}

} // namespace mapservice
