#include "mapservice/network/rategate.h"

#include <algorithm>

namespace mapservice {

void RateGates::pass(const void* source, double perSecond, std::function<void()> go)
{
    Gate& gate = gates_[source];
    gate.perSecond = perSecond;
    gate.waiting.push_back(std::move(go));
    open(source);
}

void RateGates::open(const void* source)
{
    Gate& gate = gates_[source];
    while (!gate.waiting.empty() && !gate.timer) {
        const auto now = clock_.steady();
        if (now < gate.next) {
            gate.timer =
                clock_.at(loop_, gate.next, [this, source, alive = std::weak_ptr<bool>(alive_)] {
                    const auto living = alive.lock();
                    if (!living || !*living) {
                        return;
                    }
                    gates_[source].timer.reset();
                    open(source);
                });
            return;
        }
        gate.next = std::max(now, gate.next) +
                    std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                        std::chrono::duration<double>(1.0 / gate.perSecond));
        auto go = std::move(gate.waiting.front());
        gate.waiting.pop_front();
        go();
    }
}

} // namespace mapservice
