#pragma once

// Decorators around the two sources of a sampling cycle that write down, for every cycle, what
// its snapshot held and how long the cycle's work took, so that a test can hold each
// publication to the snapshot it came from.

#include "sources.h"

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace corvel::testing {

struct CycleRecord
{
    std::size_t rows = 0;
    double cpuSum = 0;      // plain sum of the rows' cpu: the cycle's total
    double workSeconds = 0; // from the start of list() to the end of take()
};

// Written on the sampling worker, read on the main thread.
class CycleLog
{
  public:
    using Clock = std::chrono::steady_clock;
    // Sees every snapshot's rows on the worker, with the time its cycle started, before the
    // cycle goes on. Set it before the first cycle starts.
    using RowObserver = std::function<void(const std::vector<PSRow>&, Clock::time_point)>;
    RowObserver rowObserver;

    // The oldest cycle whose publication has not been claimed yet.
    std::optional<CycleRecord> claim();
    // The work time of every cycle so far, in order.
    std::vector<double> workSeconds() const;

    void cycleStarted();
    void snapshotTaken(const std::vector<PSRow>& rows);

  private:
    mutable std::mutex mutex_;
    Clock::time_point started_{};
    std::deque<CycleRecord> unclaimed_;
    std::vector<double> work_;
};

class RecordingSnapshot final : public ProcessSnapshotter
{
  public:
    RecordingSnapshot(std::unique_ptr<ProcessSnapshotter> inner, std::shared_ptr<CycleLog> log);
    std::vector<PSRow> take() override;

  private:
    std::unique_ptr<ProcessSnapshotter> inner_;
    std::shared_ptr<CycleLog> log_;
};

class RecordingApplications final : public RunningApplications
{
  public:
    RecordingApplications(std::unique_ptr<RunningApplications> inner,
                          std::shared_ptr<CycleLog> log);
    RunningApps list() override;

  private:
    std::unique_ptr<RunningApplications> inner_;
    std::shared_ptr<CycleLog> log_;
};

} // namespace corvel::testing
