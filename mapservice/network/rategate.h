#pragma once

// Requests to one source started at most at its rate: each waits for its turn on the loop that
// runs the source's transfers, evenly spaced.
#include "mapservice/network/clock.h"

#include <boost/asio/io_context.hpp>

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>

namespace mapservice {

class RateGates {
public:
    RateGates(boost::asio::io_context& loop, const Clock& clock) : loop_(loop), clock_(clock) {}
    RateGates(const RateGates&) = delete;
    RateGates& operator=(const RateGates&) = delete;

    // Calls |go| once |source|'s turn has come, at most |perSecond| a second; on the loop's
    // thread. |go| may find that what it would start is no longer wanted.
    void pass(const void* source, double perSecond, std::function<void()> go);

private:
    struct Gate {
        std::chrono::steady_clock::time_point next{}; // when the next may go
        std::deque<std::function<void()>> waiting;
        std::unique_ptr<Clock::Timer> timer; // set while one waits for |next|
        double perSecond = 0;
    };
    void open(const void* source);

    boost::asio::io_context& loop_;
    const Clock& clock_;
    std::map<const void*, Gate> gates_;
    // Told to the timers' handlers once the gates are gone.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);

public:
    ~RateGates() { *alive_ = false; }
};

} // namespace mapservice
