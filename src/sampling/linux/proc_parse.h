#pragma once

// Parsers for the text of /proc/PID/stat, /proc/PID/statm and /proc/PID/cmdline. They take
// the file contents, never a path, and consult no locale.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvel {

// The fields of /proc/PID/stat the sampler uses. Times are in clock ticks.
struct ProcStat
{
    std::int32_t pid = 0;
    std::string_view comm; // between the first "(" and the last ")"; a view into the input
    char state = 0;
    std::int32_t ppid = 0;
    std::int32_t threads = 0;
    std::uint64_t utime = 0;
    std::uint64_t stime = 0;
    std::uint64_t startTime = 0; // since boot
    std::int64_t rssPages = 0;
    std::uint64_t startStack = 0; // changes with every exec; 0 when not shown to us
};

// One stat line: "pid (comm) state ppid ... utime stime ... starttime vsize rss ...". The
// name may hold spaces and ")" itself, so the fields resume after the last ")". Empty when
// the pid is not a positive number or any field up to rss is missing or not a number.
std::optional<ProcStat> parseProcStat(std::string_view text);

// The resident page count, the second field of statm.
std::optional<std::int64_t> parseStatmResident(std::string_view text);

// /proc/PID/schedstat, the scheduler's counters of a process's main thread: the time it ran and
// waited to run (ns) and how many times it was put on a processor. They move whenever that
// thread runs.
struct SchedulerCounters
{
    std::uint64_t ran = 0, waited = 0, runs = 0;
    bool operator==(const SchedulerCounters&) const = default;
};
// Empty when malformed, and for "0 0 0": a kernel that keeps no such counters shows that.
std::optional<SchedulerCounters> parseSchedulerCounters(std::string_view text);

// The arguments of cmdline joined as ps joins them: trailing NULs dropped, every other NUL
// and line feed a single space. The bytes are not checked for UTF-8.
std::string joinCmdline(std::string_view raw);

// The command shown for a process: its joined cmdline, or "[comm]" when that is empty
// (kernel threads, zombies), followed by " <defunct>" for a zombie. Always valid UTF-8.
std::string processCommand(std::string_view rawCmdline, std::string_view comm, char state);

} // namespace corvel
