#pragma once

#include <QElapsedTimer>

#include <algorithm>
#include <functional>
#include <vector>

// The median time of `runs` runs of `step`, in nanoseconds: the benchmarks'
// one measure, steady against the odd slow run on a shared machine.
inline double medianNanoseconds(int runs, const std::function<void()> &step)
{
    std::vector<qint64> times;
    times.reserve(runs);
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        step();
        times.push_back(timer.nsecsElapsed());
    }
    std::sort(times.begin(), times.end());
    return double(times[times.size() / 2]);
}
