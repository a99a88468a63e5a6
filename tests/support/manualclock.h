#pragma once

// A clock for the map service that a test moves on itself: nothing waits for time to pass.
// Timers whose time has come when it is moved on run on their loops' threads.
#include "mapservice/network/clock.h"

#include <boost/asio/post.hpp>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

namespace testsupport {

class ManualClock : public mapservice::Clock {
public:
    Time steady() const override
    {
        const std::lock_guard lock(mutex_);
        return start_ + offset_;
    }
    std::time_t wall() const override
    {
        const std::lock_guard lock(mutex_);
        return wallStart_ + std::chrono::duration_cast<std::chrono::seconds>(offset_).count();
    }
    std::unique_ptr<Timer> at(boost::asio::io_context& loop, Time when,
                              std::function<void()> then) const override
    {
        auto entry = std::make_shared<Entry>();
        entry->loop = &loop;
        entry->when = when;
        entry->then = std::move(then);
        {
            const std::lock_guard lock(mutex_);
            if (when > start_ + offset_) {
                entries_.push_back(entry);
                return std::make_unique<Waiting>(entry);
            }
        }
        run(entry); // due already, as a real timer would be
        return std::make_unique<Waiting>(entry);
    }

    // Moves the time on by |by|: the timers due by then run.
    void advance(std::chrono::steady_clock::duration by)
    {
        std::vector<std::shared_ptr<Entry>> due;
        {
            const std::lock_guard lock(mutex_);
            offset_ += by;
            const Time now = start_ + offset_;
            // A timer that has gone may have taken its loop with it: it is only forgotten.
            std::erase_if(entries_, [&](const std::shared_ptr<Entry>& e) {
                if (e->cancelled) {
                    return true;
                }
                if (e->when > now) {
                    return false;
                }
                due.push_back(e);
                return true;
            });
        }
        // In the order their times came, as they would have on real time.
        std::stable_sort(due.begin(), due.end(),
                         [](const auto& a, const auto& b) { return a->when < b->when; });
        for (const auto& entry : due) {
            run(entry);
        }
    }

private:
    struct Entry {
        boost::asio::io_context* loop = nullptr;
        Time when;
        std::function<void()> then;
        std::atomic<bool> cancelled{false};
    };
    struct Waiting : Timer {
        explicit Waiting(std::shared_ptr<Entry> e) : entry(std::move(e)) {}
        ~Waiting() override { entry->cancelled = true; }
        std::shared_ptr<Entry> entry;
    };
    static void run(const std::shared_ptr<Entry>& entry)
    {
        boost::asio::post(*entry->loop, [entry] {
            if (!entry->cancelled) {
                entry->then();
            }
        });
    }

    mutable std::mutex mutex_;
    const Time start_ = std::chrono::steady_clock::now();
    const std::time_t wallStart_ = std::time(nullptr);
    std::chrono::steady_clock::duration offset_{};
    mutable std::vector<std::shared_ptr<Entry>> entries_;
};

} // namespace testsupport
