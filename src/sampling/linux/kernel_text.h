#pragma once

// Parsers for the kernel's machine-wide text: /proc/stat, /proc/vmstat, /proc/PID/status, a
// cgroup's cpu.stat and /proc/PID/mountinfo. They take the file contents, never a path.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvel {

// All processors together, in clock ticks since boot: busy is everything but idle and iowait.
struct MachineTicks
{
    std::uint64_t busy = 0;
    std::uint64_t total = 0;
};

// The "cpu" line of /proc/stat: user nice system idle iowait irq softirq steal (guest time is
// already counted in user and nice). At least the first four fields must be there.
std::optional<MachineTicks> parseMachineTicks(std::string_view procStat);

// A figure from /proc/vmstat that moves whenever the kernel may have taken pages out of, or
// put pages into, a process that did not run: reclaim's scans and steals (pgscan_*,
// pgsteal_*), swap-out and khugepaged's collapses. The sum of those counters, wrapping; unset
// when none is there.
std::optional<std::uint64_t> parseReclaimEvents(std::string_view vmstat);

// The number of threads on the machine, all PID namespaces counted: the total of the fourth field
// ("running/total") of /proc/loadavg.
std::optional<std::uint64_t> parseThreadCount(std::string_view loadavg);
// The pid the kernel handed out last in the reader's PID namespace: the fifth field.
std::optional<std::int32_t> parseLastPid(std::string_view loadavg);

// usage_usec of a cgroup's cpu.stat: the time its processes and those below it have run.
std::optional<std::uint64_t> parseCgroupUsage(std::string_view cpuStat);

// How many PID namespaces the process is seen in, from the NSpid line of /proc/PID/status:
// 1 in the first namespace, more when nested, 0 when the line is missing.
std::size_t pidNamespaceDepth(std::string_view status);

// One line of mountinfo: where, what file system, and the options of its superblock.
struct MountEntry
{
    std::string root;       // the folder of the file system mounted there
    std::string mountPoint; // octal escapes such as \040 undone
    std::string type;
    std::string options;
};
std::vector<MountEntry> parseMountInfo(std::string_view mountinfo);

// The first mount of a file system type, such as "cgroup2".
std::optional<std::string> mountPointOf(const std::vector<MountEntry>& mounts,
                                        std::string_view type);

// Whether a proc mount's options hide processes from some readers: hidepid set to anything
// but 0/off, or subset=pid (which also takes machine-wide files such as stat away).
bool procOptionsHideProcesses(std::string_view options);

} // namespace corvel
