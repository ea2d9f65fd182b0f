#include "cycle_stats.h"

#include <algorithm>
#include <cstdio>

namespace corvel::testing {

CycleStats cycleStats(std::vector<double> seconds)
{
    CycleStats stats;
    stats.cycles = seconds.size();
    if (seconds.empty())
        return stats;
    std::sort(seconds.begin(), seconds.end());
    const auto at = [&](double share) {
        return seconds[static_cast<std::size_t>(share * static_cast<double>(seconds.size() - 1))];
    };
    stats.median = at(0.5);
    stats.p90 = at(0.9);
    stats.p99 = at(0.99);
    stats.max = seconds.back();
    stats.overThreeMedians = static_cast<std::size_t>(std::count_if(
        seconds.begin(), seconds.end(), [&](double s) { return s > 3 * stats.median; }));
    return stats;
}

std::string describe(const CycleStats& stats)
{
    char text[200];
    std::snprintf(text, sizeof text,
                  "%zu cycles: median %.2f ms, p90 %.2f ms, p99 %.2f ms, max %.2f ms; %zu over "
                  "3x the median",
                  stats.cycles, stats.median * 1e3, stats.p90 * 1e3, stats.p99 * 1e3,
                  stats.max * 1e3, stats.overThreeMedians);
    return text;
}

} // namespace corvel::testing
