#pragma once

#include "attribution.h"
#include "group_cache.h"
#include "sources.h"

#include <optional>

namespace corvel {

// One sampling cycle without the threading: snapshot, the running applications among its
// processes, attribution. `cache` keeps what the rows of idle cgroups came to from one cycle
// to the next; without one, every row is attributed. `detailed`: as group()'s.
Grouping runCycle(ProcessSnapshotter& snapshot, RunningApplications& running, GroupCache& cache,
                  bool detailed = false);
Grouping runCycle(ProcessSnapshotter& snapshot, RunningApplications& running);

// The machine's share from the plain sum of per-process shares: min(total / cores, 100), a
// quotient that is not a number counting as 100, no lower bound.
double scaleTotal(double total, double cores);

// The machine's share for the label: the snapshotter's own figure where it has one (the rows
// miss processes hidden from us), else scaleTotal of the rows' sum.
double machineTotal(double rowsTotal, std::optional<double> machineShare, double cores);

} // namespace corvel
