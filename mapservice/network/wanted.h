#pragma once

// How long a picture is wanted, for everything fetched on its behalf.
#include "mapservice/network/clock.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace mapservice {

// Set once a picture is no longer wanted (its client has gone, or it has failed already); what
// is fetched for it hears of it and stops.
class Abandonment {
public:
    bool isSet() const { return set_; }
    // Sets it and calls what listens, once, on this thread.
    void set()
    {
        std::vector<std::function<void()>> listeners;
        {
            const std::lock_guard lock(mutex_);
            if (set_) {
                return;
            }
            set_ = true;
            listeners.swap(listeners_);
        }
        for (const auto& listener : listeners) {
            listener();
        }
    }
    // |listener| runs when it is set; at once when it is set already.
    void onSet(std::function<void()> listener)
    {
        {
            const std::lock_guard lock(mutex_);
            if (!set_) {
                listeners_.push_back(std::move(listener));
                return;
            }
        }
        listener();
    }

private:
    std::atomic<bool> set_{false};
    std::mutex mutex_;
    std::vector<std::function<void()>> listeners_;
};

// How long a picture is wanted: what it needs from elsewhere is fetched until |deadline|, or
// until |abandoned| is set.
struct Wanted {
    // On |clock|'s steady time.
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
    std::shared_ptr<Abandonment> abandoned = std::make_shared<Abandonment>();
    const Clock* clock = &realClock();
    bool over() const { return abandoned->isSet() || clock->steady() >= deadline; }
};

} // namespace mapservice
