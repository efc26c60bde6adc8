#pragma once
// Time and order statistics shared by the benchmarks.
#include <algorithm>
#include <chrono>
#include <vector>

namespace benchstats {

using Clock = std::chrono::steady_clock;

inline double msSince(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// The value at fraction p (0..1) of the sorted values, nearest rank; 0 for none.
inline double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5))];
}

}  // namespace benchstats
