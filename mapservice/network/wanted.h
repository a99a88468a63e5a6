#pragma once

// How long a picture is wanted, for everything fetched on its behalf.
#include "mapservice/network/clock.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <vector>

namespace mapservice {

// Set once a picture is no longer wanted (its client has gone, the service stops, or it has
// failed already); what is fetched for it hears of it and stops, and its drawing stops at its
// next step. Set and listened to on the service's loop; isSet may be asked on any thread.
class Abandonment {
public:
    bool isSet() const { return set_.load(std::memory_order_acquire); }
    // Sets it and calls what listens, once. On the loop.
    void set()
    {
        if (set_.exchange(true, std::memory_order_acq_rel)) {
            return;
        }
        std::vector<std::function<void()>> listeners;
        listeners.swap(listeners_);
        for (const auto& listener : listeners) {
            listener();
        }
    }
    // |listener| runs when it is set; at once when it is set already. On the loop.
    void onSet(std::function<void()> listener)
    {
        if (isSet()) {
            listener();
        } else {
            listeners_.push_back(std::move(listener));
        }
    }

private:
    std::atomic<bool> set_{false};
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
