#pragma once
// Timing helpers shared by the benchmarks: wall-clock seconds, and medians of rounds.

#include <QElapsedTimer>

#include <algorithm>
#include <functional>
#include <vector>

namespace trovane::bench {

inline double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Wall-clock seconds of one call.
inline double secondsOf(const std::function<void()>& fn)
{
    QElapsedTimer timer;
    timer.start();
    fn();
    return static_cast<double>(timer.nsecsElapsed()) / 1e9;
}

// The median of `rounds` timed calls; `before` runs untimed ahead of each.
inline double
medianSeconds(int rounds, const std::function<void()>& fn, const std::function<void()>& before = {})
{
    std::vector<double> seconds;
    for (int i = 0; i < rounds; ++i) {
        if (before)
            before();
        seconds.push_back(secondsOf(fn));
    }
    return median(seconds);
}

} // namespace trovane::bench
