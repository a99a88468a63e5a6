#include "mapservice/upstream.h"

#include "common/printable.h"
#include "common/redirect.h"
#include "mapservice/asioloop.h"
#include "mapservice/mailbox.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/thread_pool.hpp>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <deque>
#include <list>
#include <map>
#include <mutex>
#include <system_error>
#include <unistd.h>

namespace mapservice {

namespace {

namespace asio = boost::asio;
using common::http::Ended;
using Fetched = common::Result<std::string>;

} // namespace

namespace {

struct Waiter {
    std::uint64_t id = 0;
    Wanted wanted;
    std::function<void(common::Result<std::string>)> done;
    std::unique_ptr<asio::steady_timer> deadline; // none when the picture has no deadline
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
    std::unique_ptr<asio::steady_timer> staleAt;     // when the stale entry is served instead
    std::unique_ptr<TileCache::Temporary> temporary; // the body, as it arrives
    bool madeRoom = false;        // the file system was full once, and the cache made room
    bool holdsConnection = false; // counted among its host's connections
    std::list<Waiter> waiters;
    std::unique_ptr<common::http::Transfer> http;
};
using FetchPtr = std::shared_ptr<Fetch>;

} // namespace

struct Network::Private : std::enable_shared_from_this<Network::Private> {
    // The requests of a source with a rate, waiting for their turn, by the source's manners.
    struct RateGate {
        std::chrono::steady_clock::time_point next{}; // when the next may start
        std::deque<FetchPtr> waiting;
        std::unique_ptr<asio::steady_timer> timer; // set while one waits for |next|
    };
    Private(Options o, TileCache& c) : options(std::move(o)), cache(c) { serveOn(nullptr); }

    // On the loop's thread, or while no loop runs.
    void serveOn(asio::io_context* served)
    {
        inFlight.clear(); // their transfers and timers go with them
        if (mailbox) {
            mailbox->close();
        }
        client.reset();
        loop = served != nullptr ? served : own.get();
        this->served = served != nullptr;
        mailbox = std::make_shared<Mailbox>(*loop);
        busyPerHost.clear();
        queued.clear();
        gates.clear();
        client = std::make_unique<AsioCurlLoop>(*loop);
    }

    // A new request: joined to the same key in flight, or looked up in the cache on the pool,
    // then fetched when it is not there.
    void take(const FetchPtr& asked, Waiter waiter)
    {
        if (waiter.wanted.over()) {
            waiter.done(overFor(waiter, asked->host, asked->what));
            return;
        }
        auto [it, fresh] = inFlight.try_emplace(asked->key, asked);
        const FetchPtr fetch = it->second;
        wait(fetch, std::move(waiter));
        if (!fresh) {
            return;
        }
        asio::post(pool, [self = shared_from_this(), box = mailbox, fetch] {
            auto cached = self->cache.lookup(fetch->key);
            common::Result<std::unique_ptr<TileCache::Temporary>> temporary =
                std::unique_ptr<TileCache::Temporary>();
            if (!cached || !cached->fresh) {
                temporary = self->cache.temporaryFor(fetch->key);
            }
            box->post([self, fetch, cached, temporary = std::move(temporary)]() mutable {
                self->lookedUp(fetch, cached, std::move(temporary));
            });
        });
    }

    void lookedUp(const FetchPtr& fetch, const std::optional<TileCache::Cached>& cached,
                  common::Result<std::unique_ptr<TileCache::Temporary>> temporary)
    {
        if (!isInFlight(fetch)) { // nobody waits any more
            if (temporary && *temporary) {
                asio::post(pool, [t = std::move(temporary).value()] {}); // removed there
            }
            return;
        }
        if (cached && cached->fresh) {
            deliver(fetch, pictureOf(cached, "upstream " + fetch->host + ": " + fetch->what));
        } else if (!temporary) {
            deliver(fetch, temporary.error());
        } else {
            fetch->temporary = std::move(temporary).value();
            fetch->stale = cached; // asked again with its validators, kept if that fails
            fetch->stage = Fetch::Stage::Fetching;
            if (cached) {
                serveStaleInTime(fetch);
            }
            start(fetch);
        }
    }

    // A stale entry is served once half the time its first picture has is gone, whether the
    // request for it has started (a host's connections may all be busy) or not.
    void serveStaleInTime(const FetchPtr& fetch)
    {
        const auto deadline = fetch->waiters.front().wanted.deadline;
        const auto now = std::chrono::steady_clock::now();
        if (deadline == std::chrono::steady_clock::time_point::max() || deadline <= now) {
            return;
        }
        fetch->staleAt = std::make_unique<asio::steady_timer>(*loop, now + (deadline - now) / 2);
        fetch->staleAt->async_wait([self = weak_from_this(), weak = std::weak_ptr<Fetch>(fetch)](
                                       boost::system::error_code ec) {
            const auto me = self.lock();
            const auto fetch = weak.lock();
            if (ec || !me || !fetch || !me->isInFlight(fetch) ||
                fetch->stage != Fetch::Stage::Fetching) {
                return;
            }
            const std::string what = "upstream " + fetch->host + ": " + fetch->what;
            me->deliver(fetch, servedStale(*fetch->stale, what,
                                           "upstream " + fetch->host + ": no answer in time"));
            if (fetch->temporary) {
                asio::post(me->pool, [t = std::move(fetch->temporary)] {}); // removed there
            }
        });
    }

    // |stale|'s picture, with a line on standard error saying that it is served because of
    // |reason|.
    static Fetched servedStale(const TileCache::Cached& stale, const std::string& what,
                               const std::string& reason)
    {
        const std::string line = "mapservice: " + common::printable(what) +
                                 ": served stale from the cache, as " + common::printable(reason) +
                                 "\n";
        (void)!::write(STDERR_FILENO, line.data(), line.size()); // one line, whole
        return pictureOf(stale, what);
    }

    // Asks for the body once its source's rate allows and one of its host's connections is
    // free.
    void start(const FetchPtr& fetch)
    {
        const Manners* manners = fetch->manners.get();
        if (manners == nullptr || manners->maxRate <= 0) {
            admit(fetch);
            return;
        }
        RateGate& gate = gates[manners];
        gate.waiting.push_back(fetch);
        openGate(manners, gate);
    }

    // Lets the next of |gate|'s fetches through when its time has come, else waits for it.
    void openGate(const Manners* manners, RateGate& gate)
    {
        while (!gate.waiting.empty() && !isInFlight(gate.waiting.front())) {
            gate.waiting.pop_front(); // no longer wanted
        }
        if (gate.waiting.empty() || gate.timer) {
            return;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= gate.next) {
            const FetchPtr next = gate.waiting.front();
            gate.waiting.pop_front();
            gate.next = std::max(now, gate.next) +
                        std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                            std::chrono::duration<double>(1.0 / manners->maxRate));
            admit(next);
            openGate(manners, gate);
            return;
        }
        gate.timer = std::make_unique<asio::steady_timer>(*loop, gate.next);
        gate.timer->async_wait([self = weak_from_this(), manners](boost::system::error_code ec) {
            const auto me = self.lock();
            if (ec || !me) {
                return;
            }
            RateGate& g = me->gates[manners];
            g.timer.reset();
            me->openGate(manners, g);
        });
    }

    // Asks for the body once one of its host's connections is free. libcurl's own limit per
    // host would count all ports of a host together.
    void admit(const FetchPtr& fetch)
    {
        int& busy = busyPerHost[fetch->host];
        if (busy >= options.connectionsPerHost) {
            queued[fetch->host].push_back(fetch);
            return;
        }
        ++busy;
        fetch->holdsConnection = true;
        launch(fetch);
    }

    // |fetch| no longer needs its connection: the next one waiting for its host starts.
    void release(Fetch& fetch)
    {
        if (!fetch.holdsConnection) {
            return;
        }
        fetch.holdsConnection = false;
        --busyPerHost[fetch.host];
        auto& waiting = queued[fetch.host];
        while (!waiting.empty()) {
            const FetchPtr next = waiting.front();
            waiting.pop_front();
            if (isInFlight(next) && next->stage == Fetch::Stage::Fetching) {
                admit(next);
                return;
            }
        }
    }

    // Asks for the body, or delivers why it cannot be asked for.
    void launch(const FetchPtr& fetch)
    {
        common::http::Request request;
        request.url = fetch->url;
        request.userAgent = options.userAgent;
        request.maxBodyBytes = fetch->maxBodyBytes;
        request.decodeContent = true; // the cap counts decoded bytes
        request.deadline = fetch->waiters.front().wanted.deadline;
        if (fetch->manners) {
            request.headers = fetch->manners->headers;
        }
        request.keep = cachingHeaders;
        if (const auto& stale = fetch->stale) {
            if (stale->record && !stale->record->etag.empty()) {
                request.headers.push_back("If-None-Match: " + stale->record->etag);
            }
            if (stale->record && !stale->record->lastModified.empty()) {
                request.headers.push_back("If-Modified-Since: " + stale->record->lastModified);
            }
            // Half the picture's time, so that the stale entry can still be served in time.
            const auto now = std::chrono::steady_clock::now();
            if (request.deadline > now &&
                request.deadline != std::chrono::steady_clock::time_point::max()) {
                request.deadline = now + (request.deadline - now) / 2;
            }
        }
        common::http::Handlers handlers;
        Fetch* raw = fetch.get(); // the handlers go with fetch->http, before the fetch
        handlers.body = [raw](long, const char* data, std::size_t size) {
            return raw->temporary->write(data, size);
        };
        handlers.restart = [raw] { raw->temporary->restart(); };
        handlers.ended = [this, raw](const Ended& ended) { transferEnded(raw, ended); };
        auto started = client->client().start(std::move(request), std::move(handlers));
        if (!started) {
            deliver(fetch, common::passing("upstream " + fetch->host + ": " + started.error().text +
                                               " (" + fetch->what + ")",
                                           502));
            return;
        }
        fetch->http = std::move(started).value();
    }

    // The body is in, or the transfer failed: checked and stored on the pool.
    void transferEnded(Fetch* raw, const Ended& ended)
    {
        const auto it = inFlight.find(raw->key);
        if (it == inFlight.end() || it->second.get() != raw) {
            return;
        }
        const FetchPtr fetch = it->second;
        fetch->stage = Fetch::Stage::Storing;
        release(*fetch);
        common::Status outcome =
            transferOutcome(ended, fetch->host, fetch->what, fetch->maxBodyBytes);
        asio::post(pool, [self = shared_from_this(), box = mailbox, fetch, outcome, ended,
                          temporary = std::move(fetch->temporary), bytes = ended.bodyBytes,
                          type = ended.contentType]() mutable {
            const std::string what = "upstream " + fetch->host + ": " + fetch->what;
            if (fetch->stale) {
                if (auto kept = self->keptStale(*fetch, ended, outcome, what)) {
                    temporary.reset();
                    box->post(
                        [self, fetch, kept = std::move(*kept)] { self->deliver(fetch, kept); });
                    return;
                }
            }
            if (!fetch->madeRoom && temporary->diskFull()) {
                // A full file system: the cache makes room and the tile is fetched once more.
                self->cache.makeRoom();
                const bool again = temporary->restart();
                box->post([self, fetch, again, temporary = std::move(temporary)]() mutable {
                    self->fetchAgain(fetch, again, std::move(temporary));
                });
                return;
            }
            if (const auto& error = temporary->error(); outcome.ok() && error) {
                outcome =
                    common::permanent("the tile cache cannot be written: " + error->text, 500);
            }
            const Keeping keeping =
                keepingOf(ended.headers, std::time(nullptr), self->options.defaultAge);
            Fetched stored =
                keepAnswer(self->cache, fetch->key, what, fetch->expected, fetch->maxBodyBytes,
                           *temporary, outcome, bytes, type, &keeping);
            if (stored && !keeping.store) {
                self->holdUnstored(std::move(temporary)); // the picture reads it there
            }
            temporary.reset(); // removed unless stored
            box->post([self, fetch, stored] { self->deliver(fetch, stored); });
        });
    }

    // What a stale entry gives when it was asked for again: itself, renewed, when the upstream
    // says it is unchanged (304); itself when the upstream is down or does not answer in time,
    // which a line on standard error tells; else nothing (a new answer, or a refusal, counts).
    // On the pool.
    std::optional<Fetched> keptStale(const Fetch& fetch, const Ended& ended,
                                     const common::Status& outcome, const std::string& what)
    {
        const TileCache::Cached& stale = *fetch.stale;
        if (ended.failure == common::http::Failure::None && ended.status == 304) {
            Keeping keeping = keepingOf(ended.headers, std::time(nullptr), options.defaultAge);
            if (stale.record) { // a 304 need not repeat the validators
                if (keeping.record.etag.empty()) {
                    keeping.record.etag = stale.record->etag;
                }
                if (keeping.record.lastModified.empty()) {
                    keeping.record.lastModified = stale.record->lastModified;
                }
            }
            // Unrenewed (a cache that cannot be written), it is asked for again next time.
            static_cast<void>(cache.renew(fetch.key, keeping.record));
            return pictureOf(stale, what);
        }
        const bool down = ended.failure != common::http::Failure::None || ended.status >= 500;
        if (outcome.ok() || !down) {
            return std::nullopt;
        }
        return servedStale(stale, what, outcome.error().text);
    }

    // Keeps an answer that may not be cached, for the picture that reads it, until no picture
    // can still need it; those older go. On the pool.
    void holdUnstored(std::unique_ptr<TileCache::Temporary> temporary)
    {
        const std::lock_guard lock(unstoredMutex);
        const auto now = std::chrono::steady_clock::now();
        while (!unstored.empty() && unstored.front().first + options.keepUnstored < now) {
            unstored.pop_front();
        }
        unstored.emplace_back(now, std::move(temporary));
    }

    void fetchAgain(const FetchPtr& fetch, bool restarted,
                    std::unique_ptr<TileCache::Temporary> temporary)
    {
        if (!isInFlight(fetch)) {
            asio::post(pool, [temporary = std::move(temporary)] {}); // removed there
            return;
        }
        if (!restarted) {
            deliver(fetch, common::permanent("the tile cache cannot be written", 500));
            return;
        }
        fetch->madeRoom = true;
        fetch->temporary = std::move(temporary);
        fetch->stage = Fetch::Stage::Fetching;
        start(fetch);
    }

    // A picture waits for |fetch| until it is done, over its deadline or abandoned.
    void wait(const FetchPtr& fetch, Waiter waiter)
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
            at->deadline = std::make_unique<asio::steady_timer>(*loop, at->wanted.deadline);
            at->deadline->async_wait([giveUp](const boost::system::error_code& ec) {
                if (!ec) {
                    giveUp();
                }
            });
        }
        at->wanted.abandoned->onSet([box = std::weak_ptr<Mailbox>(mailbox), giveUp] {
            if (const auto mailbox = box.lock()) {
                mailbox->post(giveUp); // it may be set on any thread
            }
        });
    }

    // Tells the picture |id| that it is over, unless it was told already; a transfer nobody
    // waits for any more stops.
    void drop(const FetchPtr& fetch, std::uint64_t id)
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
        waiter.done(overFor(waiter, fetch->host, fetch->what));
    }

    void deliver(const FetchPtr& fetch, const Fetched& outcome)
    {
        if (!isInFlight(fetch)) {
            return;
        }
        inFlight.erase(fetch->key);
        fetch->http.reset();
        release(*fetch);
        for (Waiter& waiter : std::exchange(fetch->waiters, {})) {
            waiter.deadline.reset();
            waiter.done(outcome);
        }
    }

    bool isInFlight(const FetchPtr& fetch) const
    {
        const auto it = inFlight.find(fetch->key);
        return it != inFlight.end() && it->second == fetch;
    }

    static Fetched overFor(const Waiter& waiter, const std::string& host, const std::string& what)
    {
        if (waiter.wanted.abandoned->isSet()) {
            return common::passing("upstream " + host + ": " + what + " no longer wanted", 502);
        }
        return common::timedOut("upstream " + host + ": no answer in time for " + what, 504);
    }

    const Options options;
    TileCache& cache;
    asio::thread_pool pool{2}; // the cache's work
    // The loop while no server runs. What is queued on it holds this object: ~Network drops it.
    std::unique_ptr<asio::io_context> own = std::make_unique<asio::io_context>(1);
    asio::io_context* loop = nullptr;
    std::atomic<bool> served{false};
    std::mutex running;               // held by the thread that runs |own|
    std::shared_ptr<Mailbox> mailbox; // onto *loop
    std::unique_ptr<AsioCurlLoop> client;
    std::map<std::string, FetchPtr> inFlight;           // by key
    std::uint64_t waiters = 0;                          // numbers them
    std::map<std::string, int> busyPerHost;             // connections in use, by host and port
    std::map<std::string, std::deque<FetchPtr>> queued; // waiting for one, by host and port
    std::map<const Manners*, RateGate> gates;
    std::mutex unstoredMutex;
    std::deque<std::pair<std::chrono::steady_clock::time_point,
                         std::unique_ptr<TileCache::Temporary>>>
        unstored; // answers that may not be cached, oldest first
};

Network::Network(Options options, TileCache& cache)
    : d_(std::make_shared<Private>(std::move(options), cache))
{}

Network::~Network()
{
    d_->mailbox->close();
    d_->inFlight.clear();
    d_->queued.clear();
    d_->gates.clear();
    d_->client.reset();
    d_->pool.join(); // its work holds d_ until it is done
    // What is still queued on the own loop holds d_ too: it goes, unrun.
    d_->own.reset();
}

void Network::serveOn(boost::asio::io_context* loop)
{
    d_->serveOn(loop);
}

bool Network::runFor(std::chrono::milliseconds most)
{
    if (d_->served) {
        return false;
    }
    const std::lock_guard lock(d_->running); // one thread at a time runs the loop
    d_->own->restart();
    d_->own->run_one_for(most);
    return true;
}

void Network::fetch(const std::string& host, std::string url, std::string key, std::string what,
                    Expected expected, Wanted wanted,
                    std::function<void(common::Result<std::string>)> done,
                    std::shared_ptr<const Manners> manners)
{
    auto fetch = std::make_shared<Fetch>();
    fetch->host = host;
    fetch->url = std::move(url);
    fetch->key = std::move(key);
    fetch->what = std::move(what);
    fetch->maxBodyBytes =
        expected.isDocumentKind() ? expected.documentBytes : d_->options.maxBodyBytes;
    fetch->expected = std::move(expected);
    fetch->manners = std::move(manners);
    d_->mailbox->post(
        [d = d_, fetch, waiter = Waiter{0, std::move(wanted), std::move(done), nullptr}]() mutable {
            d->take(fetch, std::move(waiter));
        });
}

} // namespace mapservice
