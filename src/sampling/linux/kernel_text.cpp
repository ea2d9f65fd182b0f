#include "kernel_text.h"

#include "text_rules.h"

#include <charconv>
#include <utility>

namespace corvel {
namespace {

std::string_view nextWord(std::string_view& rest)
{
    const std::size_t start = rest.find_first_not_of(" \t");
    if (start == std::string_view::npos) {
        rest = {};
        return {};
    }
    rest.remove_prefix(start);
    const std::size_t end = std::min(rest.find_first_of(" \t\n"), rest.size());
    const std::string_view word = rest.substr(0, end);
    rest.remove_prefix(end);
    return word;
}

// mountinfo writes space, tab, newline and backslash as \ooo.
std::string unescape(std::string_view field)
{
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() &&
            field.substr(i + 1, 3).find_first_not_of("01234567") == std::string_view::npos) {
            out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                     (field[i + 3] - '0'));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

} // namespace

std::optional<MachineTicks> parseMachineTicks(std::string_view procStat)
{
    std::string_view line = nextLine(procStat);
    if (nextWord(line) != "cpu")
        return std::nullopt;
    MachineTicks ticks;
    for (int field = 0; field < 8; ++field) {
        const std::string_view word = nextWord(line);
        if (word.empty() && field >= 4)
            break;
        const auto value = parseInteger<std::uint64_t>(word);
        if (!value)
            return std::nullopt;
        ticks.total += *value;
        if (field != 3 && field != 4) // idle, iowait
            ticks.busy += *value;
    }
    return ticks;
}

std::optional<std::uint64_t> parseReclaimEvents(std::string_view vmstat)
{
    std::optional<std::uint64_t> sum;
    while (!vmstat.empty()) {
        std::string_view line = nextLine(vmstat);
        const std::string_view name = nextWord(line);
        const bool counted = name.starts_with("pgscan") || name.starts_with("pgsteal") ||
                             name == "pswpout" || name == "thp_collapse_alloc";
        const auto value = counted ? parseInteger<std::uint64_t>(nextWord(line)) : std::nullopt;
        if (value)
            sum = sum.value_or(0) + *value;
    }
    return sum;
}

std::optional<std::uint64_t> parseThreadCount(std::string_view loadavg)
{
    std::string_view field;
    for (int number = 1; number <= 4; ++number)
        field = nextWord(loadavg);
    const std::size_t slash = field.find('/');
    if (slash == std::string_view::npos || !parseInteger<std::uint64_t>(field.substr(0, slash)))
        return std::nullopt;
    return parseInteger<std::uint64_t>(field.substr(slash + 1));
}

std::optional<std::int32_t> parseLastPid(std::string_view loadavg)
{
    std::string_view field;
    for (int number = 1; number <= 5; ++number)
        field = nextWord(loadavg);
    const auto pid = parseInteger<std::int32_t>(field);
    return pid && *pid >= 0 ? pid : std::nullopt;
}

std::optional<std::uint64_t> parseCgroupUsage(std::string_view cpuStat)
{
    while (!cpuStat.empty()) {
        std::string_view line = nextLine(cpuStat);
        if (nextWord(line) != "usage_usec")
            continue;
        return parseInteger<std::uint64_t>(nextWord(line));
    }
    return std::nullopt;
}

std::size_t pidNamespaceDepth(std::string_view status)
{
    while (!status.empty()) {
        std::string_view line = nextLine(status);
        if (!line.starts_with("NSpid:"))
            continue;
        line.remove_prefix(6);
        std::size_t depth = 0;
        while (!nextWord(line).empty())
            ++depth;
        return depth;
    }
    return 0;
}

std::vector<MountEntry> parseMountInfo(std::string_view mountinfo)
{
    std::vector<MountEntry> mounts;
    while (!mountinfo.empty()) {
        const std::string_view line = nextLine(mountinfo);
        // id parent major:minor root mount-point options [optional fields] - type source options
        const std::size_t separator = line.find(" - ");
        if (separator == std::string_view::npos)
            continue;
        std::string_view head = line.substr(0, separator);
        std::string_view tail = line.substr(separator + 3);
        std::string_view root, point;
        for (int field = 0; field < 5; ++field)
            root = std::exchange(point, nextWord(head));
        const std::string_view type = nextWord(tail);
        nextWord(tail); // source
        const std::string_view options = nextWord(tail);
        if (point.empty() || type.empty())
            continue;
        mounts.push_back(
            {unescape(root), unescape(point), std::string(type), std::string(options)});
    }
    return mounts;
}

std::optional<std::string> mountPointOf(const std::vector<MountEntry>& mounts,
                                        std::string_view type)
{
    for (const MountEntry& mount : mounts) {
        if (mount.type == type)
            return mount.mountPoint;
    }
    return std::nullopt;
}

bool procOptionsHideProcesses(std::string_view options)
{
    while (!options.empty()) {
        const std::size_t comma = std::min(options.find(','), options.size());
        const std::string_view option = options.substr(0, comma);
        options.remove_prefix(std::min(comma + 1, options.size()));
        if (option == "subset=pid")
            return true;
        if (option.starts_with("hidepid=") && option != "hidepid=0" && option != "hidepid=off")
            return true;
    }
    return false;
}

} // namespace corvel
