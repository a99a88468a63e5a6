#pragma once

// The service's time, for the network, the cache, its records, the rate gates and the deadlines:
// steady time for deadlines and timers, wall time for what HTTP and the cache's records say. The
// service runs on the real one; a test passes one it moves on itself, so that nothing waits for
// time to pass. libcurl's own time-outs stay on real time.
#include <boost/asio/io_context.hpp>

#include <chrono>
#include <ctime>
#include <functional>
#include <memory>

namespace mapservice {

class Clock {
public:
    using Time = std::chrono::steady_clock::time_point;

    // A wait under way; destroying it cancels it.
    class Timer {
    public:
        virtual ~Timer() = default;
    };

    virtual ~Clock() = default;
    virtual Time steady() const = 0;
    virtual std::time_t wall() const = 0;
    // Runs |then| on |loop|'s thread once the steady time has reached |when|, unless the timer
    // returned has gone first.
    virtual std::unique_ptr<Timer> at(boost::asio::io_context& loop, Time when,
                                      std::function<void()> then) const = 0;

    // |deadline| of this clock as a time of the real steady clock, for what runs on real time
    // (libcurl's deadline): as far ahead of now.
    Time onRealTime(Time deadline) const
    {
        if (deadline == Time::max()) {
            return deadline;
        }
        return std::chrono::steady_clock::now() + (deadline - steady());
    }
};

// The real time, asio's timers on it.
const Clock& realClock();

} // namespace mapservice
