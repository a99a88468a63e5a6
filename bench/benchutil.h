#pragma once

#include "dialogs.h"

#include <QString>

#include <chrono>
#include <cstdio>

namespace bench {

// Dialogs that acknowledge every message at once.
class SilentDialogs : public common::Dialogs {
public:
    void message(const QString&) override { ++messages; }
    void endProgram(int) override {}
    int messages = 0;
};

template <typename F>
double secondsOf(F&& work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Prints the one result line of a benchmark; |value| and |baseline| come from the same run.
inline void report(const char* name, double value, double baseline, const char* target)
{
    std::printf("BENCH %s value=%.6f baseline=%.6f ratio=%.3f target=%s\n", name, value, baseline,
                value / baseline, target);
    std::fflush(stdout);
}

} // namespace bench
