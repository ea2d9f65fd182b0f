#pragma once

#include "attribution.h"

#include <string>
#include <vector>

namespace corvel {

// The panel's content as plain text: column labels, one line per entry, the total.
std::string renderText(const std::vector<AppUsage>& apps, double totalCPU);

// The same data as one JSON object: totalCPU, cores, apps (id, name, cpu, memoryKB,
// processCount).
std::string renderJson(const std::vector<AppUsage>& apps, double totalCPU, double cores);

} // namespace corvel
