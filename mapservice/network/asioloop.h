#pragma once

#include "common/httpclient.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/asio/steady_timer.hpp>

#include <map>
#include <memory>

namespace mapservice {

// The HTTP client on an asio loop: each socket libcurl watches is waited on with asio, without
// asio owning it (libcurl opens and closes its sockets, and its threaded resolver hands over a
// descriptor of its own), and libcurl's timer is an asio timer. Everything runs on the loop's
// thread.
class AsioCurlLoop : public common::http::EventLoop {
public:
    explicit AsioCurlLoop(boost::asio::io_context& io);
    ~AsioCurlLoop() override;
    AsioCurlLoop(const AsioCurlLoop&) = delete;
    AsioCurlLoop& operator=(const AsioCurlLoop&) = delete;

    common::http::Client& client() { return *client_; }

    void watch(curl_socket_t socket, int what) override;
    void startTimer(long ms) override;

private:
    struct Watch {
        explicit Watch(boost::asio::io_context& io, curl_socket_t socket) : descriptor(io, socket)
        {}
        boost::asio::posix::stream_descriptor descriptor;
        int what = 0;
        bool reading = false; // a wait is under way
        bool writing = false;
    };
    void wait(const std::shared_ptr<Watch>& watch, bool forReading);

    boost::asio::io_context& io_;
    boost::asio::steady_timer timer_;
    std::map<curl_socket_t, std::shared_ptr<Watch>> watches_;
    // Gone with this object, which the handlers of waits that ended before it went look at.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    // Destroyed first, while the watches and the timer are there: closing its kept connections
    // tells watch() of each.
    std::unique_ptr<common::http::Client> client_;
};

} // namespace mapservice
