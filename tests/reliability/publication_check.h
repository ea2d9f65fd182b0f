#pragma once

#include "attribution.h"
#include "cycle_log.h"

#include <string>
#include <vector>

namespace corvel::testing {

// What is wrong with one publication (the list and the total a monitor published together),
// measured against the snapshot its cycle took; empty when nothing is. Checked: ids unique;
// cpu descending, exact ties by memory descending, entries whose cpu is not a number last;
// the total within 0 and 100 and equal to the machine's share of the cycle's total; the
// process counts adding up to the snapshot's rows; the entries' cpu adding up to the cycle's
// total up to rounding.
std::vector<std::string> publicationProblems(const std::vector<AppUsage>& apps, double totalCPU,
                                             double cores, const CycleRecord& cycle);

} // namespace corvel::testing
