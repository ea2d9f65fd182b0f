#include "cycle.h"

#include <cmath>

namespace corvel {

Grouping runCycle(ProcessSnapshotter& snapshot, RunningApplications& running, GroupCache& cache,
                  bool detailed)
{
    const std::vector<RowPart> parts = snapshot.takeParts();
    return cache.group(parts, buildLookups(running.listFor(parts, snapshot.groups())), detailed);
}

Grouping runCycle(ProcessSnapshotter& snapshot, RunningApplications& running)
{
    GroupCache once;
    return runCycle(snapshot, running, once);
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
