#include "formatting.h"

#include <array>
#include <charconv>

namespace corvel {

std::string formatFixed(double value, int precision)
{
    // Large enough for any double in fixed notation (up to 309 integer digits) plus decimals.
    std::array<char, 400> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                      std::chars_format::fixed, precision);
    if (result.ec != std::errc())
        return {};
    return std::string(buffer.data(), result.ptr);
}

std::string formatMemory(std::int64_t kilobytes)
{
    const double megabytes = static_cast<double>(kilobytes) / 1024.0;
    if (megabytes < 1024.0)
        return formatFixed(megabytes, 0) + " MB";
    return formatFixed(megabytes / 1024.0, 1) + " GB";
}

std::string formatShare(double cpu)
{
    return formatFixed(cpu, 1) + "%";
}

std::string formatCpuLabel(double totalCPU)
{
    return "CPU " + formatFixed(totalCPU, 0) + "%";
}

std::string formatTotalCpu(double totalCPU)
{
    return "Total CPU " + formatFixed(totalCPU, 0) + "%";
}

std::string formatBusiest(const std::vector<AppUsage>& apps, std::size_t count)
{
    std::string lines;
    for (std::size_t i = 0; i < apps.size() && i < count; ++i) {
        const std::string share = formatShare(apps[i].cpu);
        if (share == "0.0%" || share == "-0.0%")
            break; // the rows after it are no busier
        lines += (lines.empty() ? "" : "\n") + apps[i].name + ' ' + share;
    }
    return lines;
}

} // namespace corvel
