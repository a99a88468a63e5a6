#include "mapservice/network/asioloop.h"

namespace mapservice {

namespace asio = boost::asio;

AsioCurlLoop::AsioCurlLoop(asio::io_context& io)
    : io_(io), timer_(io), client_(std::make_unique<common::http::Client>(*this))
{}

AsioCurlLoop::~AsioCurlLoop()
{
    client_.reset();
    for (auto& [socket, watch] : watches_) {
        watch->descriptor.release(); // libcurl's, not asio's, to close
    }
}

void AsioCurlLoop::startTimer(long ms)
{
    timer_.cancel();
    if (ms < 0) {
        return;
    }
    timer_.expires_after(std::chrono::milliseconds(ms));
    // A wait that has ended is run even when the timer has gone since: it checks that this has
    // not gone with it.
    timer_.async_wait(
        [this, alive = std::weak_ptr<bool>(alive_)](const boost::system::error_code& ec) {
            if (!ec && !alive.expired()) {
                client_->act(CURL_SOCKET_TIMEOUT, 0);
            }
        });
}

void AsioCurlLoop::watch(curl_socket_t socket, int what)
{
    if (what == CURL_POLL_REMOVE) {
        if (const auto it = watches_.find(socket); it != watches_.end()) {
            it->second->what = 0;
            boost::system::error_code ignored;
            it->second->descriptor.cancel(ignored);
            it->second->descriptor.release();
            watches_.erase(it);
        }
        return;
    }
    auto& watch = watches_[socket];
    if (!watch) {
        watch = std::make_shared<Watch>(io_, socket);
    }
    watch->what = what;
    if ((what & CURL_POLL_IN) != 0 && !watch->reading) {
        wait(watch, true);
    }
    if ((what & CURL_POLL_OUT) != 0 && !watch->writing) {
        wait(watch, false);
    }
}

void AsioCurlLoop::wait(const std::shared_ptr<Watch>& watch, bool forReading)
{
    (forReading ? watch->reading : watch->writing) = true;
    watch->descriptor.async_wait(
        forReading ? asio::posix::stream_descriptor::wait_read
                   : asio::posix::stream_descriptor::wait_write,
        [this, weak = std::weak_ptr<Watch>(watch), alive = std::weak_ptr<bool>(alive_),
         forReading](const boost::system::error_code& ec) {
            const auto watch = weak.lock();
            if (!watch || alive.expired()) {
                return; // no longer watched
            }
            (forReading ? watch->reading : watch->writing) = false;
            if (ec || watch->what == 0) {
                return;
            }
            const int flag = forReading ? CURL_POLL_IN : CURL_POLL_OUT;
            if ((watch->what & flag) == 0) {
                return; // libcurl no longer wants this direction
            }
            const curl_socket_t socket = watch->descriptor.native_handle();
            client_->act(socket, forReading ? CURL_CSELECT_IN : CURL_CSELECT_OUT);
            // Still watched, and still in this direction: wait again.
            if (const auto it = watches_.find(socket);
                it != watches_.end() && it->second == watch && (watch->what & flag) != 0 &&
                !(forReading ? watch->reading : watch->writing)) {
                wait(watch, forReading);
            }
        });
}

} // namespace mapservice
