#pragma once

#include "cgroup_activity.h"
#include "cpu_shares.h"
#include "kernel_text.h"
#include "proc_dir.h"
#include "proc_sampler.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace corvel {

// Raw counters from a /proc tree. A process whose cgroup shows it did not run keeps its last
// counters without a read; every other one has its stat read, and its statm and cmdline when
// they may have changed. Without a readable cgroup v2 tree every stat is read.
class ProcReader final : public ProcessCounterReader
{
public:
    explicit ProcReader(ProcSamplerOptions options);

    void read(std::vector<ProcessCounters>& out) override;
    double ticksPerSecond() const override { return ticksPerSecond_; }
    // The machine's busy share from <root>/stat, when processes may be hidden from us: the
    // proc mount hides them, we live in a nested PID namespace, or some were unreadable.
    std::optional<double> machineShare() const override;

    std::size_t unread() const { return unread_; }
    std::size_t cgroupsRead() const { return activity_.cgroupsRead(); }

private:
    struct Entry
    {
        std::int32_t pid = 0;
        std::int32_t ppid = 0;
        std::uint64_t startTime = 0; // ticks since boot
        std::uint64_t cpuTicks = 0;  // utime + stime at the last reading
        std::int64_t rssPages = 0;   // statm's exact count at its last reading
        std::int64_t statRss = 0;    // stat's count at that time
        double memoryAt = 0;         // when stat or statm was last read
        bool rssRead = false;
        std::string comm; // with startStack, to notice an exec
        std::uint64_t startStack = 0;
        std::string command;
        bool commandRead = false;
        bool recheckCommand = false; // young processes often rewrite their title
        bool zombie = false;
        UniqueFd statFile; // kept open while the process is read every cycle
    };

    // False when the process is gone or its stat could not be read.
    bool readStat(Entry& entry, bool known, char* buffer, std::size_t size);
    bool readResident(Entry& entry, std::int64_t fallback, char* buffer, std::size_t size);
    bool readCommand(Entry& entry, char state, bool young);
    bool memoryDue(const Entry& entry, double at) const;
    bool readRootFile(const char* name); // <root><name> into text_
    void readMachine();
    void noteReclaim(double at);
    double now() const;

    struct MountFacts
    {
        std::string cgroupRoot;
        bool procHides = false;
        bool wholeTree = false; // every process of the machine is in the tree
    };
    static MountFacts readMounts(const ProcSamplerOptions& options);

    ProcSamplerOptions options_;
    ProcDir dir_;
    MountFacts mounts_;
    CgroupActivity activity_;
    std::int64_t pageBytes_;
    double ticksPerSecond_;
    bool hiddenByMount_;  // or by a nested PID namespace
    bool hidden_ = false; // this read
    std::optional<MachineTicks> machine_, previousMachine_;
    std::optional<std::uint64_t> reclaimEvents_;
    double reclaimAt_ = 0;     // when vmstat last showed reclaim, or could not be read
    double memoryPeriod_ = 10; // this cycle's pace of idle memory re-reads, in seconds
    std::size_t unread_ = 0;
    std::size_t keptLimit_ = 0, kept_ = 0;
    int listedAgo_ = 5; // reads since /proc was last listed; the first read lists it
    std::vector<std::int32_t> pids_, known_;
    std::vector<Entry> entries_; // ascending pid, merged with each listing
    std::vector<Entry> next_;
    std::string text_; // scratch
};

} // namespace corvel
