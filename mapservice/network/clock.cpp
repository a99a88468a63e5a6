#include "mapservice/network/clock.h"

#include <boost/asio/steady_timer.hpp>

namespace mapservice {

namespace {

class RealTimer : public Clock::Timer {
public:
    RealTimer(boost::asio::io_context& loop, Clock::Time when, std::function<void()> then)
        : timer_(loop, when)
    {
        // A wait that ended just before the timer went is still run: it finds it gone.
        timer_.async_wait([then = std::move(then), alive = std::weak_ptr<bool>(alive_)](
                              const boost::system::error_code& ec) {
            if (!ec && !alive.expired()) {
                then();
            }
        });
    }

private:
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    boost::asio::steady_timer timer_;
};

class RealClock : public Clock {
public:
    Time steady() const override { return std::chrono::steady_clock::now(); }
    std::time_t wall() const override { return std::time(nullptr); }
    std::unique_ptr<Timer> at(boost::asio::io_context& loop, Time when,
                              std::function<void()> then) const override
    {
        return std::make_unique<RealTimer>(loop, when, std::move(then));
    }
};

} // namespace

const Clock& realClock()
{
    static const RealClock clock;
    return clock;
}

} // namespace mapservice
