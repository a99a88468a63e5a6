#pragma once

#include "common/dialogs.h"

#include <QString>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace bench {

// Dialogs that acknowledge every message at once.
class SilentDialogs : public common::Dialogs {
public:
    void message(const QString&) override { ++messages; }
    int messages = 0;
};

template <typename F> double secondsOf(F&& work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

inline double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The median time in seconds of |repeats| runs of |work|.
template <typename F> double medianSeconds(int repeats, F&& work)
{
    std::vector<double> times;
    for (int i = 0; i < repeats; ++i) {
        times.push_back(secondsOf(work));
    }
    return median(std::move(times));
}

// Prints the one result line of a benchmark; |value| and |baseline| come from the same run.
inline void report(const char* name, double value, double baseline, const char* target)
{
    std::printf("BENCH %s value=%.6f baseline=%.6f ratio=%.3f target=%s\n", name, value, baseline,
                value / baseline, target);
    std::fflush(stdout);
}

} // namespace bench
