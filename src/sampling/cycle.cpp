#include "cycle.h"

#include <cmath>

namespace corvel {

Grouping runCycle(ProcessSnapshotter& snapshot, RunningApplications& running)
{
    const AppLookups lookups = buildLookups(running.list());
    return group(snapshot.take(), lookups.byPID, lookups.byBundlePath, lookups.byUnit);
}

double scaleTotal(double total, double cores)
{
    // std::fmin is IEEE minNum: a NaN quotient yields the other operand, 100.
    return std::fmin(total / cores, 100.0);
}

double machineTotal(double rowsTotal, std::optional<double> machineShare, double cores)
{
    return machineShare ? *machineShare : scaleTotal(rowsTotal, cores);
}

} // namespace corvel
