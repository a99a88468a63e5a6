#pragma once

// The service's connections: what they and the drawing threads share, and one session per
// client connection, run by the connections' thread.
#include "mapservice/http/answer.h"
#include "mapservice/http/routes.h"
#include "mapservice/http/server.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/thread_pool.hpp>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace mapservice {

namespace asio = boost::asio;

// The drawing threads: as many as asked, else one per core, at least two.
int slotsFor(const ServerLimits& limits);

// What the connections and the drawing threads share.
struct ServerState {
    ServerState(asio::io_context& loop, const Source& s, const ServerLimits& l, MapServer::Log g)
        : source(s), limits(l), log(std::move(g)), slots(slotsFor(l)), io(loop),
          pool(static_cast<std::size_t>(slots))
    {}

    // A picture of |request|, or 503 once the service is stopping: a picture being drawn then
    // stops at its next step, as does one whose client has gone (|abandoned|). On a drawing
    // thread.
    Answer draw(const DrawingJob& job, const Gathered* gathered,
                const std::shared_ptr<const Abandonment>& abandoned)
    {
        const Halt halt = [this, &abandoned] { return stopping || abandoned->isSet(); };
        Answer answer = job.draw(source, job.request, gathered, halt);
        return stopping ? Answer{503, "text/plain", "the service is stopping\n", {}} : answer;
    }

    const Source& source;
    Site site; // set before serving
    const ServerLimits limits;
    const MapServer::Log log;
    const int slots;

    std::mutex countsMutex; // connections end on any thread when the service stops
    std::unordered_map<std::string, int> perClient;
    int connections = 0;

    // How to close each open connection, by its number: a stop closes them all.
    std::map<std::uint64_t, std::function<void()>> closers; // under countsMutex
    std::uint64_t sessions = 0;

    int admitted = 0; // map requests being drawn or waiting; on the connections' thread only
    std::atomic<bool> stopping{false};

    // The service's loop, which outlives the server; the pool goes first, with the connections
    // its queued work holds.
    asio::io_context& io;
    asio::thread_pool pool;
};

// Serves the connection |socket| from |client| until it ends; it counts in |state| meanwhile.
void startSession(ServerState& state, asio::ip::tcp::socket socket, std::string client);

} // namespace mapservice
