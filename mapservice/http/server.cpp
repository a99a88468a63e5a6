#include "mapservice/http/server.h"

#include "mapservice/http/answer.h"
#include "mapservice/http/session.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/system/error_code.hpp>

#include <cstdio>
#include <exception>
#include <mutex>
#include <optional>
#include <unordered_map>

namespace mapservice {

namespace {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;
using SteadyClock = std::chrono::steady_clock;

// How long a stop waits for the open connections to end.
constexpr std::chrono::milliseconds stopWait{500};

} // namespace

struct MapServer::Private {
    Private(asio::io_context& loop, const Source& source, const ServerLimits& limits, Log log)
        : state(loop, source, limits, std::move(log))
    {}

    void accept()
    {
        acceptor.async_accept(state.io, [this](boost::system::error_code ec, tcp::socket socket) {
            if (ec == asio::error::operation_aborted) {
                return;
            }
            if (ec) { // out of file descriptors, say: let open connections end for a moment
                acceptPause.expires_after(std::chrono::milliseconds(100));
                acceptPause.async_wait([this](boost::system::error_code e) {
                    if (!e) {
                        accept();
                    }
                });
                return;
            }
            admit(std::move(socket));
            accept();
        });
    }

    // Starts a connection, or closes it at once when its client, or the service, holds as
    // many as it may.
    void admit(tcp::socket socket)
    {
        boost::system::error_code ec;
        const auto endpoint = socket.remote_endpoint(ec);
        if (ec) {
            return;
        }
        std::string client = endpoint.address().to_string();
        {
            const std::lock_guard lock(state.countsMutex);
            int& count = state.perClient[client];
            if (count >= state.limits.maxPerClient ||
                state.connections >= state.limits.maxConnections) {
                if (count == 0) {
                    state.perClient.erase(client);
                }
                return;
            }
            ++count;
            ++state.connections;
        }
        socket.set_option(tcp::no_delay(true), ec); // small answers go out without waiting
        startSession(state, std::move(socket), std::move(client));
    }

    ServerState state;
    tcp::acceptor acceptor{state.io};
    asio::steady_timer acceptPause{state.io};
    asio::steady_timer stopDeadline{state.io};
    std::optional<asio::signal_set> signals;
    int stoppedBy = 0; // the signal that stopped the server, if one did
};

MapServer::MapServer(asio::io_context& loop, const Source& source, const ServerLimits& limits,
                     Log log)
    : d_(std::make_unique<Private>(loop, source, limits, std::move(log)))
{}

MapServer::~MapServer()
{
    // What the pool still draws comes back to the loop: it runs, with the server still there,
    // as do the ends of the connections closed, before the server goes.
    try {
        d_->state.pool.join();
        d_->state.io.restart();
        while (d_->state.io.poll() > 0) {
        }
    } catch (const std::exception& e) { // a handler that threw: nothing more runs
        std::fprintf(stderr, "mapservice: while stopping: %s\n", e.what());
    }
}

common::Result<int> MapServer::bind(const std::string& address, int port)
{
    const std::string where = address + ":" + std::to_string(port);
    boost::system::error_code ec;
    tcp::resolver resolver(d_->state.io);
    const auto found = resolver.resolve(
        address, std::to_string(port), tcp::resolver::passive | tcp::resolver::numeric_service, ec);
    if (ec || found.empty()) {
        return common::badInput(
            "cannot listen on " + where + ": " + (ec ? ec.message() : "no such address"), 1);
    }
    const tcp::endpoint endpoint = found.begin()->endpoint();
    tcp::acceptor& acceptor = d_->acceptor;
    acceptor.open(endpoint.protocol(), ec);
    // A restart may bind while old connections linger; without SO_REUSEPORT a second service on
    // the same port fails instead of sharing it.
    acceptor.set_option(asio::socket_base::reuse_address(true), ec);
    if (!ec) {
        acceptor.bind(endpoint, ec);
    }
    if (!ec) {
        acceptor.listen(asio::socket_base::max_listen_connections, ec);
    }
    if (ec) {
        common::Error error =
            common::permanent("cannot listen on " + where + ": " + ec.message(), 1);
        acceptor.close(ec);
        return error;
    }
    return acceptor.local_endpoint().port();
}

void MapServer::setPublicUrl(const std::string& url)
{
    d_->state.site.publicUrl = url;
}

void MapServer::stopOnSignals()
{
    d_->signals.emplace(d_->state.io, SIGINT, SIGTERM);
    d_->signals->async_wait([this](boost::system::error_code ec, int signal) {
        if (!ec) {
            d_->stoppedBy = signal;
            stop();
        }
    });
}

MapServer::Ended MapServer::run()
{
    ServerState& state = d_->state;
    d_->accept();
    state.io.restart(); // a loop stopped before, by a caller that ran it for a while
    state.io.run();
    // Every connection is closed: a picture being drawn stops at its next step, one waiting for
    // a drawing thread is answered at once, so the pool's work ends soon.
    state.pool.join();
    return {d_->stoppedBy};
}

void MapServer::stop()
{
    d_->state.stopping = true;
    // On the loop: no more connections are taken, the open ones are closed, and the loop ends
    // once the last has gone, or after stopWait.
    asio::post(d_->state.io, [d = d_.get()] {
        boost::system::error_code ignored;
        d->acceptor.close(ignored);
        std::vector<std::function<void()>> closers;
        {
            const std::lock_guard lock(d->state.countsMutex);
            for (const auto& entry : d->state.closers) {
                closers.push_back(entry.second);
            }
            if (d->state.connections == 0) {
                d->state.io.stop();
                return;
            }
        }
        for (const auto& close : closers) {
            close();
        }
        d->stopDeadline.expires_after(stopWait);
        d->stopDeadline.async_wait([d](boost::system::error_code ec) {
            if (!ec) {
                d->state.io.stop();
            }
        });
    });
}

} // namespace mapservice
