#pragma once

#include "proc_dir.h"
#include "sources.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace corvel {

struct ProcSamplerOptions
{
    std::string root = "/proc";
    long pageSize = 0;       // bytes; 0: this system's
    long ticksPerSecond = 0; // the unit of stat's times; 0: this system's
    // The first take() reads twice, this far apart, so that its figures already mean "now".
    std::chrono::milliseconds firstInterval{250};
    // Stand-ins for tests. Null: nanosleep, and CLOCK_BOOTTIME in seconds (the clock stat's
    // start times count on).
    std::function<void(std::chrono::milliseconds)> sleep;
    std::function<double()> secondsSinceBoot;
    // Descriptors (stat and statm) kept open between calls, at most a quarter of the soft
    // RLIMIT_NOFILE; past this, files are opened for each read. None by default: each one
    // pins about 4 KiB of kernel memory charged to us (its seq_file buffer), 8 KiB a
    // process, for a saving of about a third of the reading time.
    std::size_t maxKeptFiles = 0;
};

// The process table read from a /proc tree. CPU is the share of one processor each process
// used since the previous take(), so 200 means two processors kept busy; a process first
// seen now is measured from its start. Processes are told apart by pid and start time, so a
// reused pid starts afresh. Processes that vanish or cannot be read are left out.
class ProcSampler final : public ProcessSnapshotter
{
public:
    explicit ProcSampler(ProcSamplerOptions options = {});

    std::vector<PSRow> take() override;

    // Descriptors held between calls, for tests and benchmarks.
    std::size_t keptFiles() const { return keptFiles_; }

private:
    struct Entry
    {
        std::int32_t pid = 0;
        std::uint64_t startTime = 0; // ticks since boot
        std::uint64_t cpuTicks = 0;  // utime + stime at the last reading
        double readAt = 0;           // seconds since boot of the last reading
        UniqueFd stat;               // kept open; invalid when over the budget
        UniqueFd statm;
        std::int64_t rssPages = 0;   // statm's exact count at its last reading
        std::int64_t statRss = 0;    // stat's count at that time
        bool rssRead = false;
        std::string comm;            // with startStack, to notice an exec
        std::uint64_t startStack = 0;
        std::string command;
        bool commandRead = false;
        bool recheckCommand = false; // young processes often rewrite their title
        bool zombie = false;
    };

    // One pass over the tree; rows are produced only when `rows` is not null.
    void sample(std::vector<PSRow>* rows);
    // One of the process's files, through its kept descriptor when it has one.
    ssize_t readKept(std::int32_t pid, UniqueFd& kept, const char* name, char* buffer,
                     std::size_t size);
    bool readCommand(Entry& entry, char state, bool young);
    // Closes kept descriptors, last first, until no more are held than the budget allows.
    void shedKeptFiles(std::vector<Entry>& entries);
    double now() const;

    ProcSamplerOptions options_;
    ProcDir dir_;
    std::int64_t pageBytes_;
    double ticksPerSecond_;
    std::size_t keepBudget_;
    std::size_t keptFiles_ = 0;
    bool primed_ = false;
    std::vector<std::int32_t> pids_;
    std::vector<Entry> entries_; // ascending pid, merged with each listing
    std::vector<Entry> next_;
    std::string cmdline_;        // scratch
};

} // namespace corvel
