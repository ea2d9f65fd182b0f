#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

namespace corvel {

// How often the resident size of a process that did not run is read again. It moves without
// running when the kernel reclaims, swaps out or collapses pages, which the reclaim counters
// of vmstat show: within `fast` of such events idle processes are re-read at that pace,
// otherwise at `calm`, for what no counter shows (another process writing into it). Unknown
// counters count as moved. The re-reads of each pid have their own phase in the period, so
// they spread over the cycles.
class MemoryPace
{
public:
    MemoryPace(std::chrono::milliseconds fast, std::chrono::milliseconds calm);

    // Once a cycle, at `now` (seconds): the reclaim counters read, or none when unknown or not
    // looked at.
    void update(double now, std::optional<std::uint64_t> reclaimEvents);
    // Whether a process last measured at `measuredAt` is due a fresh reading at `now`.
    bool due(std::int32_t pid, double measuredAt, double now) const;
    // Seconds: this cycle's time for every process to be read again.
    double period() const { return period_; }
    bool calm() const { return period_ > fast_; }

private:
    double fast_, calm_;
    std::optional<std::uint64_t> events_;
    double movedAt_ = 0; // when the counters last moved, or were unknown
    double period_;      // this cycle's
};

} // namespace corvel
