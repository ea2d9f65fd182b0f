#pragma once

#include <string>
#include <vector>

namespace corvel::testing {

// The spread of per-cycle work times, in seconds.
struct CycleStats
{
    std::size_t cycles = 0;
    double median = 0;
    double p90 = 0;
    double p99 = 0;
    double max = 0;
    std::size_t overThreeMedians = 0;
};

CycleStats cycleStats(std::vector<double> seconds);

// "1234 cycles: median 3.1 ms, p90 4.0 ms, p99 6.2 ms, max 9.9 ms; 2 over 3x the median"
std::string describe(const CycleStats& stats);

} // namespace corvel::testing
