#pragma once

#include "common/dialogs.h"

#include <QString>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <vector>

namespace bench {

// Dialogs that acknowledge every message at once and take the default answer.
class SilentDialogs : public common::Dialogs {
public:
    void message(const QString&) override { ++messages; }
    Answer question(const QString&, bool, Answer preset) override { return preset; }
    // A question with a further button takes |further| when it is set.
    Answer questionWith(const QString&, bool, Answer preset, const QString&) override
    {
        return further.value_or(preset);
    }
    QString openFile(const QString&, const QString&) override { return {}; }
    int messages = 0;
    std::optional<Answer> further;
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

// Rounds that alternate between the program and its baseline, so that a slow moment of the
// machine falls on both alike. The ratio reported is the median of the rounds' own ratios.
class Rounds {
public:
    void add(double value, double baseline)
    {
        values_.push_back(value);
        baselines_.push_back(baseline);
        ratios_.push_back(value / baseline);
    }
    double value() const { return median(values_); }
    double baseline() const { return median(baselines_); }
    double ratio() const { return median(ratios_); }

private:
    std::vector<double> values_;
    std::vector<double> baselines_;
    std::vector<double> ratios_;
};

// |rounds| rounds of |program| then |baseline|, each timed; a round should take seconds.
template <typename P, typename B> Rounds alternate(int rounds, P&& program, B&& baseline)
{
    Rounds result;
    for (int i = 0; i < rounds; ++i) {
        const double value = secondsOf(program);
        result.add(value, secondsOf(baseline));
    }
    return result;
}

// Prints the one result line of a benchmark; |value| and |baseline| come from the same run.
inline void report(const char* name, double value, double baseline, const char* target)
{
    std::printf("BENCH %s value=%.6f baseline=%.6f ratio=%.3f target=%s\n", name, value, baseline,
                value / baseline, target);
    std::fflush(stdout);
}

// The result line of alternating rounds: the medians of both, and the median ratio.
inline void report(const char* name, const Rounds& rounds, const char* target)
{
    std::printf("BENCH %s value=%.6f baseline=%.6f ratio=%.3f target=%s\n", name, rounds.value(),
                rounds.baseline(), rounds.ratio(), target);
    std::fflush(stdout);
}

} // namespace bench
