#include "cycle.h"

#include <cmath>

namespace corvel {

Grouping runCycle(ProcessSnapshotter& snapshot, RunningApplications& running)
{
    const std::vector<PSRow> rows = snapshot.take();
    const AppLookups lookups = buildLookups(running.listFor(rows));
    return group(rows, lookups.byPID, lookups.byBundlePath, lookups.byUnit);
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
