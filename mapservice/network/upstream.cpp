#include "mapservice/network/upstream.h"

#include "common/printable.h"
#include "common/redirect.h"
#include "mapservice/network/asioloop.h"
#include "mapservice/network/rategate.h"
#include "mapservice/network/upstreamstate.h"

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

using Ended = Network::Private::Ended;
using Fetched = Network::Private::Fetched;
using Fetch = Network::Private::Fetch;
using FetchPtr = Network::Private::FetchPtr;
using Waiter = Network::Private::Waiter;

// A new request: joined to the same key in flight, or looked up in the cache on the pool,
// then fetched when it is not there.
void Network::Private::take(const FetchPtr& asked, Waiter waiter)
{
    if (waiter.wanted.over()) {
        waiter.done(overFor(waiter, asked->host, asked->what), nullptr);
        return;
    }
    if (!inFlight.contains(asked->key) &&
        answerKnown(asked->key, "upstream " + asked->host + ": " + asked->what, waiter)) {
        return;
    }
    auto [it, fresh] = inFlight.try_emplace(asked->key, asked);
    const FetchPtr fetch = it->second;
    wait(fetch, std::move(waiter));
    if (!fresh) {
        return;
    }
    asio::post(pool, [self = shared_from_this(), fetch] {
        // A fresh entry is pinned before the pictures hear of it, so that no eviction takes it
        // before they are drawn. The body's file of one to fetch is opened once its transfer
        // starts (see admit): a tile that waits for a connection holds no descriptor.
        TileCache::Pin pinned;
        auto cached = self->cache.lookup(fetch->key, &pinned);
        // What is to be fetched has its folder made now, so that its transfer starts without
        // another turn on the pool.
        const bool folderReady =
            (!cached || !cached->fresh) && self->cache.prepareFolderFor(fetch->key);
        self->toLoop([self, fetch, cached, pinned, folderReady] {
            self->lookedUp(fetch, cached, pinned, folderReady);
        });
    });
}

void Network::Private::lookedUp(const FetchPtr& fetch,
                                const std::optional<TileCache::Cached>& cached, const Kept& pinned,
                                bool folderReady)
{
    if (!isInFlight(fetch)) { // nobody waits any more
        return;
    }
    if (cached && cached->fresh) {
        if (!cached->nothing) {
            constexpr std::size_t mostKnown = 100'000;
            if (known.size() >= mostKnown) {
                known.clear();
            }
            known[fetch->key] = {*cached, options.clock->steady() + std::chrono::minutes(1)};
        }
        deliver(fetch, pictureOf(cached, "upstream " + fetch->host + ": " + fetch->what), pinned);
    } else {
        fetch->stale = cached; // asked again with its validators, kept if that fails
        fetch->stage = Fetch::Stage::Fetching;
        fetch->folderReady = folderReady;
        if (cached) {
            serveStaleInTime(fetch);
        }
        start(fetch);
    }
}

bool Network::Private::answerKnown(const std::string& key, const std::string& what, Waiter& waiter)
{
    const auto it = known.find(key);
    if (it == known.end()) {
        return false;
    }
    const TileCache::Cached& cached = it->second.cached;
    const bool stale = options.clock->steady() >= it->second.until ||
                       (cached.record && options.clock->wall() > cached.record->expires);
    // Pinned first, then looked for: another service sharing the folder may have evicted it.
    Kept pinned = stale ? nullptr : cache.pin(cached.file);
    if (stale || ::access(cached.file.c_str(), F_OK) != 0) {
        known.erase(it);
        return false;
    }
    waiter.done(pictureOf(cached, what), std::move(pinned));
    return true;
}

// Asks for the body once its source's rate allows and one of its host's connections is
// free.
void Network::Private::start(const FetchPtr& fetch)
{
    const Manners* manners = fetch->manners.get();
    if (manners == nullptr || manners->maxRate <= 0) {
        admit(fetch);
        return;
    }
    gates->pass(manners, manners->maxRate, [this, fetch] {
        if (isInFlight(fetch)) { // not dropped while it waited
            admit(fetch);
        }
    });
}

// Asks for the body once one of its host's connections is free, the file it goes to made
// first. libcurl's own limit per host would count all ports of a host together.
void Network::Private::admit(const FetchPtr& fetch)
{
    int& hostBusy = busyPerHost[fetch->host];
    if (hostBusy >= options.connectionsPerHost || busy >= options.transfersInAll) {
        auto& waiting = queued[fetch->host];
        if (waiting.empty() && std::find(turns.begin(), turns.end(), fetch->host) == turns.end()) {
            turns.push_back(fetch->host);
        }
        waiting.push_back(fetch);
        return;
    }
    ++hostBusy;
    ++busy;
    fetch->holdsConnection = true;
    if (!fetch->temporary && fetch->folderReady) {
        // One call in a folder made when the key was looked up: the loop writes the body there
        // anyway.
        fetch->temporary = cache.openTemporary(fetch->key);
    }
    if (fetch->temporary) { // opened now, or fetched again after the cache made room
        launch(fetch);
        return;
    }
    // The file the body goes to, made on the pool (making room when the disk is full, or telling
    // why it cannot be made); the transfer starts once it is there.
    asio::post(pool, [self = shared_from_this(), fetch] {
        auto temporary = self->cache.temporaryFor(fetch->key);
        self->toLoop([self, fetch, temporary = std::move(temporary)]() mutable {
            if (!self->isInFlight(fetch) || fetch->stage != Fetch::Stage::Fetching) {
                self->release(*fetch); // dropped or served stale meanwhile
                if (temporary && *temporary) {
                    asio::post(self->pool, [t = std::move(temporary).value()] {}); // removed there
                }
                return;
            }
            if (!temporary) {
                self->deliver(fetch, temporary.error());
                return;
            }
            fetch->temporary = std::move(temporary).value();
            self->launch(fetch);
        });
    });
}

// |fetch| no longer needs its connection: the next one waiting starts, of the first host in
// turn that has a connection free; that host's turn comes again after the others'.
void Network::Private::release(Fetch& fetch)
{
    if (!fetch.holdsConnection) {
        return;
    }
    fetch.holdsConnection = false;
    --busyPerHost[fetch.host];
    --busy;
    for (std::size_t left = turns.size(); left > 0; --left) {
        const std::string host = turns.front();
        turns.pop_front();
        auto& waiting = queued[host];
        while (!waiting.empty() &&
               !(isInFlight(waiting.front()) && waiting.front()->stage == Fetch::Stage::Fetching)) {
            waiting.pop_front(); // dropped, or served stale, meanwhile
        }
        if (waiting.empty()) {
            queued.erase(host);
            continue;
        }
        turns.push_back(host);
        if (busyPerHost[host] < options.connectionsPerHost) {
            const FetchPtr next = waiting.front();
            waiting.pop_front();
            if (waiting.empty()) {
                turns.pop_back();
                queued.erase(host);
            }
            admit(next);
            return;
        }
    }
}

// Asks for the body, or delivers why it cannot be asked for.
void Network::Private::launch(const FetchPtr& fetch)
{
    common::http::Request request;
    request.url = fetch->url;
    request.userAgent = options.userAgent;
    request.maxBodyBytes = fetch->maxBodyBytes;
    request.decodeContent = true; // the cap counts decoded bytes
    // libcurl's own time-outs run on real time.
    request.deadline = options.clock->onRealTime(fetch->waiters.front().wanted.deadline);
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
        const auto now = common::http::Clock::now();
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
void Network::Private::transferEnded(Fetch* raw, const Ended& ended)
{
    const auto it = inFlight.find(raw->key);
    if (it == inFlight.end() || it->second.get() != raw) {
        return;
    }
    const FetchPtr fetch = it->second;
    fetch->stage = Fetch::Stage::Storing;
    release(*fetch);
    common::Status outcome = transferOutcome(ended, fetch->host, fetch->what, fetch->maxBodyBytes);
    asio::post(pool, [self = shared_from_this(), fetch, outcome, ended,
                      temporary = std::move(fetch->temporary), bytes = ended.bodyBytes,
                      type = ended.contentType]() mutable {
        const std::string what = "upstream " + fetch->host + ": " + fetch->what;
        if (fetch->stale) {
            if (auto old = staleAnswer(self->cache, fetch->key, *fetch->stale, ended, outcome, what,
                                       self->options.defaultAge, self->options.clock->wall())) {
                temporary.reset();
                Kept pinned = *old ? self->cache.pin(**old) : nullptr;
                self->toLoop([self, fetch, old = std::move(*old), pinned] {
                    self->deliver(fetch, old, pinned);
                });
                return;
            }
        }
        if (fetch->madeRoom && temporary->diskFull()) { // full of what pictures still draw
            temporary.reset();
            self->toLoop([self, fetch] { self->deliver(fetch, TileCache::cacheFull()); });
            return;
        }
        if (!fetch->madeRoom && temporary->diskFull()) {
            // A full file system: the cache makes room and the tile is fetched once more.
            self->cache.makeRoom();
            const bool again = temporary->restart();
            self->toLoop([self, fetch, again, temporary = std::move(temporary)]() mutable {
                self->fetchAgain(fetch, again, std::move(temporary));
            });
            return;
        }
        if (const auto& error = temporary->error(); outcome.ok() && error) {
            outcome =
                temporary->diskFull()
                    ? TileCache::cacheFull()
                    : common::permanent("the tile cache cannot be written: " + error->text, 500);
        }
        const Keeping keeping =
            keepingOf(ended.headers, self->options.clock->wall(), self->options.defaultAge);
        TileCache::Pin pinned; // the stored entry, until its pictures are drawn
        Fetched stored =
            keepAnswer(self->cache, fetch->key, what, fetch->expected, fetch->maxBodyBytes,
                       *temporary, outcome, bytes, type, &keeping, &pinned);
        Kept kept = pinned;
        if (stored && !keeping.store) {
            kept = self->keepUnstored(std::move(temporary)); // the pictures read it there
        }
        temporary.reset(); // removed unless stored
        self->toLoop([self, fetch, stored, kept] { self->deliver(fetch, stored, kept); });
    });
}

void Network::Private::fetchAgain(const FetchPtr& fetch, bool restarted,
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

Network::Network(Options options, TileCache& cache, boost::asio::io_context& loop)
    : d_(std::make_shared<Private>(std::move(options), cache, loop))
{}

Network::~Network()
{
    d_->open = false;
    d_->inFlight.clear();
    d_->queued.clear();
    d_->gates.reset();
    d_->client.reset();
    d_->pool.join(); // its work holds d_ until it is done
}

const Clock& Network::clock() const
{
    return *d_->options.clock;
}

void Network::offLoop(std::function<void()> work, std::function<void()> then)
{
    // The pool's work holds no more than a weak hold: a Network gone drops what comes back.
    asio::post(d_->pool,
               [self = std::weak_ptr<Private>(d_), work = std::move(work), then = std::move(then)] {
                   work();
                   if (const auto d = self.lock()) {
                       d->toLoop(then);
                   }
               });
}

void Network::fetch(const std::string& host, std::string url, std::string key, std::string what,
                    Expected expected, Wanted wanted, Done done,
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
    d_->toLoop(
        [d = d_, fetch, waiter = Waiter{0, std::move(wanted), std::move(done), nullptr}]() mutable {
            d->take(fetch, std::move(waiter));
        });
}

} // namespace mapservice
