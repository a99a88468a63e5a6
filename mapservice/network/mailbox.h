#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>

#include <mutex>

namespace mapservice {

// Hands work to an event loop's thread from any thread, for as long as the loop is there:
// closed, it drops what it is handed.
class Mailbox {
public:
    explicit Mailbox(boost::asio::io_context& io) : io_(&io) {}
    template <typename Handler> void post(Handler&& handler)
    {
        const std::lock_guard lock(mutex_);
        if (io_ != nullptr) {
            boost::asio::post(*io_, std::forward<Handler>(handler));
        }
    }
    void close()
    {
        const std::lock_guard lock(mutex_);
        io_ = nullptr;
    }

private:
    std::mutex mutex_;
    boost::asio::io_context* io_;
};

} // namespace mapservice
