#pragma once

// The texts computed from numbers, shared by the panel, the status item and the terminal
// view. All are printf-style but independent of the C library's locale: full stop as decimal
// point, no digit grouping.

#include "attribution.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace corvel {

// printf's "%.<precision>f", locale-independent.
std::string formatFixed(double value, int precision);

// "%.0f MB" below 1024 MB, else "%.1f GB" (1 MB = 1024 KiB).
std::string formatMemory(std::int64_t kilobytes);

// "%.1f%%": one application's share, e.g. "12.3%".
std::string formatShare(double cpu);

// "CPU %.0f%%": the status item's label.
std::string formatCpuLabel(double totalCPU);

// "Total CPU %.0f%%": the panel's footer.
std::string formatTotalCpu(double totalCPU);

// The status item's tooltip under its label: the first `count` rows of `apps` (busiest first,
// "System & Background" among them like any other row), one "Firefox 22.4%" a line. Rows whose
// share shows as "0.0%" are left out: an idle machine has no busiest application.
std::string formatBusiest(const std::vector<AppUsage>& apps, std::size_t count = 3);

} // namespace corvel
