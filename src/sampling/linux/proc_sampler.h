#pragma once

#include "cpu_shares.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>

namespace corvel {

struct ProcSamplerOptions
{
    std::string root = "/proc";
    // The cgroup v2 tree that tells which processes did not run, so that they need not be
    // read. Unset: the one mounted, found in <root>/self/mountinfo; empty: none, every
    // process is read every time.
    std::optional<std::string> cgroupRoot;
    long pageSize = 0;       // bytes; 0: this system's
    long ticksPerSecond = 0; // the unit of stat's times; 0: this system's
    // The resident size of a process that did not run is read again now and then, spread
    // over the cycles by pid. It moves without running when the kernel reclaims, swaps out or
    // collapses pages, which <root>/vmstat counts: within memoryRefresh of such events each
    // idle process is read at that pace (a fifth of them every 2-second cycle), otherwise at
    // calmMemoryRefresh, for what no counter shows (another process writing into it through
    // ptrace or process_vm_writev, a mapped file truncated): rare enough that at a calm pace
    // of a minute those re-reads were most of what 5,000 idle processes cost a cycle. At the
    // calm pace at most calmRefreshesPerRead are re-read a cycle, each a cold open costing
    // about 10 us (four were still a tenth of a cycle): with more idle processes than a
    // desktop's few hundred their calm period stretches (5,000: three hours), not the cycle.
    // Without a readable vmstat the first pace holds.
    std::chrono::milliseconds memoryRefresh{10000};
    std::chrono::milliseconds calmMemoryRefresh{600000};
    std::size_t calmRefreshesPerRead = 1;
    // Where the root is a real proc file system, the file each process is first read by
    // (stat, or schedstat while it does not run) stays open between cycles, up to this many
    // and a quarter of the open-file limit: a read of an open file saves its open and close,
    // and a file kept for a process that is gone reads as gone, never as a newcomer with the
    // same pid. Each holds a page of the kernel's memory.
    std::size_t keptFiles = 256;
    // The first take() reads twice, this far apart, so that its figures already mean "now".
    std::chrono::milliseconds firstInterval{250};
    // Stand-ins for tests. Null: nanosleep, and CLOCK_BOOTTIME in seconds (the clock stat's
    // start times count on).
    std::function<void(std::chrono::milliseconds)> sleep;
    std::function<double()> secondsSinceBoot;
};

// The process table read from a /proc tree. CPU is the share of one processor each process
// used since the previous take(), so 200 means two processors kept busy; a process first
// seen now is measured from its start. Processes are told apart by pid and start time, so a
// reused pid starts afresh. Processes that vanish or cannot be read are left out.
class ProcSampler final : public CounterSnapshotter
{
public:
    explicit ProcSampler(ProcSamplerOptions options = {});
    // Processes the last take() kept without reading them (they did not run), and cgroups
    // it looked at: for tests and benchmarks.
    std::size_t unread() const;
    std::size_t cgroupsRead() const;
};

} // namespace corvel
