#pragma once

// Raw per-process counters, as a platform's reader hands them out, turned into each process's
// share of one processor between two readings. No platform code here.

#include "snapshot.h"
#include "sources.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace corvel {

// One process at one reading. Ticks and start time share one unit; the start time and the
// reading time count from the same origin (on Linux: boot).
struct ProcessCounters
{
    std::int32_t pid = 0;
    std::int32_t ppid = 0;
    std::uint64_t startTicks = 0; // with the pid, tells a reused pid from its previous owner
    std::uint64_t cpuTicks = 0;   // user + system time used so far
    std::int64_t residentKB = 0;
    double readAt = 0; // seconds
    std::string command;
};

// A platform's process table as raw counters.
class ProcessCounterReader
{
public:
    virtual ~ProcessCounterReader() = default;
    // Every process that can be read now, ascending by pid.
    virtual void read(std::vector<ProcessCounters>& out) = 0;
    virtual double ticksPerSecond() const = 0;
    // See ProcessSnapshotter::machineShare; measured between the last two reads.
    virtual std::optional<double> machineShare() const { return std::nullopt; }
    // A reader may keep processes that did not run out of read(), in groups whose rows stand
    // as they were (CPU share 0), each under its own key; these are the groups of the last
    // read.
    virtual std::vector<RowPart> idleParts() const { return {}; }
    // See ProcessSnapshotter::groups; of the last read.
    virtual const GroupTree* groups() const { return nullptr; }
    // Processes back in read() from such a group, ascending by pid, with the counters they
    // had there and the time they were last known not to have run: where their shares count
    // from.
    virtual const std::vector<ProcessCounters>& resumed() const
    {
        static const std::vector<ProcessCounters> none;
        return none;
    }
};

// Shares since the previous reading for processes seen then; since its start for a process
// first seen now (born in between, or a pid reused: a different start time).
class CpuShares
{
public:
    explicit CpuShares(double ticksPerSecond) : ticksPerSecond_(ticksPerSecond) {}

    // `now` ascending by pid; its commands are moved into the rows. `resumed` (ascending by
    // pid): earlier readings of processes that were not in the previous `now`.
    std::vector<PSRow> next(std::vector<ProcessCounters>& now,
                            const std::vector<ProcessCounters>& resumed = {});
    bool primed() const { return primed_; }

private:
    struct Previous
    {
        std::int32_t pid;
        std::uint64_t startTicks;
        std::uint64_t cpuTicks;
        double readAt;
    };
    double ticksPerSecond_;
    bool primed_ = false;
    std::vector<Previous> previous_;
    std::vector<Previous> scratch_;
};

// A snapshotter over a reader. The first take() reads twice, `firstInterval` apart, so that
// its figures already mean "now".
class CounterSnapshotter : public ProcessSnapshotter
{
public:
    using Sleep = std::function<void(std::chrono::milliseconds)>;
    // A null sleep is the thread's own.
    CounterSnapshotter(std::unique_ptr<ProcessCounterReader> reader,
                       std::chrono::milliseconds firstInterval, Sleep sleep = {});

    // Every row, ascending by pid.
    std::vector<PSRow> take() override;
    std::vector<RowPart> takeParts() override;
    std::optional<double> machineShare() const override { return reader_->machineShare(); }
    const GroupTree* groups() const override { return reader_->groups(); }

protected:
    const ProcessCounterReader& reader() const { return *reader_; }

private:
    std::unique_ptr<ProcessCounterReader> reader_;
    CpuShares shares_;
    std::chrono::milliseconds firstInterval_;
    Sleep sleep_;
    std::vector<ProcessCounters> readings_;
};

} // namespace corvel
