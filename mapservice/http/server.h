#pragma once

#include "common/result.h"
#include "mapservice/http/accesslog.h"
#include "mapservice/sources/source.h"

#include <boost/asio/io_context.hpp>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace mapservice {

// What one client may take of the service, so that slow, many or hostile clients cannot starve
// the others. A client over a limit has its connection closed, or is answered 503 with
// Retry-After; never 4xx, which a downloader takes as final.
struct ServerLimits {
    // From a request's first byte to the end of its header and body. Not renewed by each byte
    // that arrives, and not counted over a kept-alive connection's earlier requests.
    std::chrono::milliseconds headerTimeout{10'000};
    // How long an open connection may wait for its next request.
    std::chrono::milliseconds idleTimeout{5'000};
    // How long a client may take to take in its answer.
    std::chrono::milliseconds writeTimeout{30'000};
    // Open connections from one client address; more are closed as they come.
    int maxPerClient = 16;
    // Open connections in all; more are closed as they come.
    int maxConnections = 4000;
    // Pictures drawn at once; 0 is one per core, at least two. A picture of 4000 x 4000 holds
    // 16 MB while it is drawn, so this bounds the memory.
    int drawingSlots = 0;
    // Map requests that may wait for a drawing slot; past them the answer is 503 at once.
    int queue = 32;
};

// The HTTP side of the service: map pictures at /pub/agent.dll, 404 elsewhere, 405 for methods
// other than GET and HEAD. One thread reads and writes every connection without blocking;
// what a picture needs from elsewhere is gathered without holding a thread (a client that hangs
// up meanwhile abandons it), then the picture is drawn by a pool of drawingSlots threads.
class MapServer {
public:
    using Log = std::function<void(const AccessRecord&)>;

    // Serves on |loop|, the one the source's network was made with. |log|, when set, is called
    // once per answered request, on the connections' thread.
    MapServer(boost::asio::io_context& loop, const Source& source, const ServerLimits& limits = {},
              Log log = {});
    ~MapServer();
    MapServer(const MapServer&) = delete;
    MapServer& operator=(const MapServer&) = delete;

    // Binds to |address| and |port| (0: one the system chooses); the port, or the system's
    // reason it cannot be had (exit status 1).
    common::Result<int> bind(const std::string& address, int port);
    // The address its documents name, "https://maps.example.org"; without one, each request's
    // Host header says. Before run.
    void setPublicUrl(const std::string& url);
    // SIGINT and SIGTERM stop the server from then on.
    void stopOnSignals();
    // Why serving ended.
    struct Ended {
        int signal = 0; // SIGINT or SIGTERM, when one stopped it; 0: stop() was called
    };
    // Serves until stop() is called, from any thread, or a signal stops it. A stop closes every
    // connection, waits at most half a second for them to end, and the pictures being drawn stop
    // at their next step; run returns once the drawing threads have ended.
    Ended run();
    void stop();

private:
    struct Private;
    std::unique_ptr<Private> d_;
};

} // namespace mapservice
