#pragma once

#include "attribution.h"
#include "sources.h"

namespace corvel {

// One sampling cycle without the threading: running applications, snapshot, attribution.
Grouping runCycle(ProcessSnapshotter& snapshot, RunningApplications& running);

// The machine's share from the plain sum of per-process shares: min(total / cores, 100), a
// quotient that is not a number counting as 100, no lower bound.
double scaleTotal(double total, double cores);

} // namespace corvel
