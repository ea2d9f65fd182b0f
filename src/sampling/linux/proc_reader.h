#pragma once

#include "cgroup_activity.h"
#include "cpu_shares.h"
#include "kept_files.h"
#include "kernel_text.h"
#include "memory_pace.h"
#include "mount_facts.h"
#include "proc_dir.h"
#include "proc_parse.h"
#include "proc_sampler.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace corvel {

// Raw counters from a /proc tree. A process whose cgroup shows it did not run keeps its last
// counters without a read, and so does one whose main thread's scheduler counters (schedstat)
// show it did not; every other one has its stat read, and its statm and cmdline when they may
// have changed. Without a readable cgroup v2 tree every stat is read.
class ProcReader final : public ProcessCounterReader
{
public:
    explicit ProcReader(ProcSamplerOptions options);

    void read(std::vector<ProcessCounters>& out) override;
    double ticksPerSecond() const override { return ticksPerSecond_; }
    // The machine's busy share from <root>/stat, when processes may be hidden from us: the
    // proc mount hides them, we live in a nested PID namespace, or some were unreadable.
    std::optional<double> machineShare() const override;
    std::vector<RowPart> idleParts() const override;
    const std::vector<ProcessCounters>& resumed() const override { return resumed_; }
    const GroupTree* groups() const override { return pruning_ ? &*activity_ : nullptr; }

    std::size_t unread() const { return unread_; }
    std::size_t cgroupsRead() const { return activity_->cgroupsRead(); }

private:
    struct Entry
    {
        std::int32_t pid = 0;
        std::int32_t ppid = 0;
        std::int32_t threads = 0;
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
        bool idle = false; // its cgroup showed it did not run: nothing was read
        // Its only thread's scheduler counters, read before its stat was last read: while they
        // stand as they were, it did not run since, and its stat is not read again.
        std::optional<SchedulerCounters> scheduled;
        bool quiet = false;   // its last reading showed it had not run
        bool still = false;   // in this read, its counters stood in for its stat
        bool fresh = false;   // in this read, first seen at its pid
        KeptFiles::File file; // kept open while the process is read every cycle
    };

    void watchMounts();
    void settle(bool pruning, double at);
    struct Group;
    void makeRows(Group& group) const;
    void refreshAside(double at);
    // True when /proc was listed; otherwise the members of the cgroups the walk read stand in.
    bool listPids(bool pruning);
    std::uint64_t readThreadCount(); // 0: unknown; sets lastPid_
    // False when the process is gone or could not be read.
    bool sample(Entry& entry, bool known, bool pruning, double& at, char* buffer, std::size_t size);
    // Whether its scheduler counters stood still; none when they are not read or there was
    // nothing to compare them with.
    std::optional<bool> stoodStill(Entry& entry, char* buffer, std::size_t size);
    void confirmParents(std::vector<ProcessCounters>& out, std::uint64_t& threads, char* buffer,
                        std::size_t size);
    void confirmParentsAside(char* buffer, std::size_t size);
    ProcessCounters counters(const Entry& entry, double at) const;
    bool readStat(Entry& entry, bool known, char* buffer, std::size_t size);
    bool readResident(Entry& entry, std::int64_t fallback, char* buffer, std::size_t size);
    bool readCommand(Entry& entry, char state, bool young);
    bool readRootFile(const char* name); // <root><name> into text_
    void readMachine();
    std::optional<std::uint64_t> readReclaimEvents();
    double now() const;

    ProcSamplerOptions options_;
    ProcDir dir_;
    MountWatch mountWatch_;
    MountFacts mounts_;
    std::optional<CgroupActivity> activity_;
    KeptFiles keptFiles_; // before the entries that hold them
    MemoryPace memoryPace_;
    std::int64_t pageBytes_;
    double ticksPerSecond_;
    bool hidden_ = false;  // this read
    bool pruning_ = false; // this read walked the cgroup tree
    std::optional<MachineTicks> machine_, previousMachine_;
    std::size_t unread_ = 0;
    int listedAgo_ = 15; // reads since /proc was last listed; the first read lists it
    // Whether the reads accounted for every thread of the machine: the last one failed to (it
    // was not unknown: no thread came or went while it read), and how many did not since.
    bool failed_ = false;
    int unprovenReads_ = 15;
    bool provenSinceListing_ = false;
    bool countersShown_ = true; // false once schedstat shows this kernel keeps none
    UniqueFd loadavg_;
    std::optional<std::int32_t> lastPid_;    // handed out before this read's walk
    std::optional<std::int32_t> listedFrom_; // ... and before the last listing of /proc
    std::vector<std::int32_t> pids_;
    std::vector<std::int32_t> born_;  // scratch
    std::vector<std::int32_t> ended_; // in this read: ended, or a pid taken by a new process
    std::vector<Entry> entries_;      // ascending pid, merged with each listing
    // Processes that did not run in two reads in a row, kept apart by cgroup and not looked
    // at while it stays idle: a process is born, execs and exits only by running.
    struct Group
    {
        std::vector<Entry> entries;                     // ascending pid once its rows are made
        std::shared_ptr<const std::vector<PSRow>> rows; // null until made again
        std::vector<std::int32_t> parents;              // theirs, ascending, with the rows
        std::int64_t threads = 0;
        bool left = false; // one of them is listed in another cgroup now
    };
    std::map<std::uint64_t, Group> groups_;
    std::unordered_map<std::int32_t, std::uint64_t> groupOf_;
    std::pair<std::uint64_t, std::int32_t> refreshAt_; // the group and pid last refreshed
    double refreshCredit_ = 0;
    std::vector<ProcessCounters> resumed_;
    std::vector<Entry> back_;  // scratch
    double previousStart_ = 0; // when the last read began
    std::vector<Entry> next_;
    std::string text_; // scratch
};

} // namespace corvel
