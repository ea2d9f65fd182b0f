#include "cycle_log.h"

namespace corvel::testing {

std::optional<CycleRecord> CycleLog::claim()
{
    std::lock_guard lock(mutex_);
    if (unclaimed_.empty())
        return std::nullopt;
    CycleRecord record = unclaimed_.front();
    unclaimed_.pop_front();
    return record;
}

std::vector<double> CycleLog::workSeconds() const
{
    std::lock_guard lock(mutex_);
    return work_;
}

void CycleLog::cycleStarted()
{
    std::lock_guard lock(mutex_);
    started_ = Clock::now();
}

void CycleLog::snapshotTaken(const std::vector<PSRow>& rows)
{
    const Clock::time_point ended = Clock::now();
    Clock::time_point started;
    {
        std::lock_guard lock(mutex_);
        started = started_;
    }
    if (rowObserver)
        rowObserver(rows, started);
    CycleRecord record;
    record.rows = rows.size();
    for (const PSRow& row : rows)
        record.cpuSum += row.cpu;
    std::lock_guard lock(mutex_);
    record.workSeconds = std::chrono::duration<double>(ended - started).count();
    unclaimed_.push_back(record);
    work_.push_back(record.workSeconds);
}

RecordingSnapshot::RecordingSnapshot(std::unique_ptr<ProcessSnapshotter> inner,
                                     std::shared_ptr<CycleLog> log)
    : inner_(std::move(inner)), log_(std::move(log))
{}

std::vector<PSRow> RecordingSnapshot::take()
{
    std::vector<PSRow> rows = inner_->take();
    log_->snapshotTaken(rows);
    return rows;
}

RecordingApplications::RecordingApplications(std::unique_ptr<RunningApplications> inner,
                                             std::shared_ptr<CycleLog> log)
    : inner_(std::move(inner)), log_(std::move(log))
{}

RunningApps RecordingApplications::list()
{
    log_->cycleStarted(); // a cycle lists the applications first, then takes the snapshot
    return inner_->list();
}

} // namespace corvel::testing
