#pragma once

#include <functional>

namespace mapservice {

// Asked between the steps of a long drawing whether its picture is still wanted: true once its
// client has gone, its time is up or the service stops. A drawing that hears it stops at its
// next step and what it made is thrown away. An empty one never halts.
using Halt = std::function<bool()>;

inline bool halted(const Halt& halt)
{
    return halt && halt();
}

} // namespace mapservice
