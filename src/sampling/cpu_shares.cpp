#include "cpu_shares.h"

#include <algorithm>
#include <thread>

namespace corvel {

std::vector<PSRow> CpuShares::next(std::vector<ProcessCounters>& now,
                                   const std::vector<ProcessCounters>& resumed)
{
    if (!resumed.empty()) {
        scratch_.clear();
        auto back = resumed.begin();
        const auto takeBack = [&] {
            scratch_.push_back({back->pid, back->startTicks, back->cpuTicks, back->readAt});
            ++back;
        };
        for (const Previous& p : previous_) {
            while (back != resumed.end() && back->pid < p.pid)
                takeBack();
            scratch_.push_back(p);
        }
        while (back != resumed.end())
            takeBack();
        previous_.swap(scratch_);
    }
    if (!std::is_sorted(now.begin(), now.end(),
                        [](const auto& a, const auto& b) { return a.pid < b.pid; }))
        std::sort(now.begin(), now.end(),
                  [](const auto& a, const auto& b) { return a.pid < b.pid; });
    std::vector<PSRow> rows;
    rows.reserve(now.size());
    scratch_.clear();
    scratch_.reserve(now.size());
    // Both lists ascend by pid, so one walk pairs each process with its previous reading.
    auto old = previous_.begin();
    for (ProcessCounters& p : now) {
        while (old != previous_.end() && old->pid < p.pid)
            ++old;
        double cpu = 0;
        if (old != previous_.end() && old->pid == p.pid && old->startTicks == p.startTicks) {
            const double elapsed = (p.readAt - old->readAt) * ticksPerSecond_;
            if (elapsed > 0 && p.cpuTicks > old->cpuTicks)
                cpu = static_cast<double>(p.cpuTicks - old->cpuTicks) / elapsed * 100.0;
        } else {
            const double age = p.readAt * ticksPerSecond_ - static_cast<double>(p.startTicks);
            cpu = static_cast<double>(p.cpuTicks) / std::max(age, 1.0) * 100.0;
        }
        scratch_.push_back({p.pid, p.startTicks, p.cpuTicks, p.readAt});
        rows.push_back(PSRow{p.pid, p.ppid, cpu, p.residentKB, std::move(p.command)});
    }
    previous_.swap(scratch_);
    primed_ = true;
    return rows;
}

CounterSnapshotter::CounterSnapshotter(std::unique_ptr<ProcessCounterReader> reader,
                                       std::chrono::milliseconds firstInterval, Sleep sleep)
    : reader_(std::move(reader)), shares_(reader_->ticksPerSecond()), firstInterval_(firstInterval),
      sleep_(std::move(sleep))
{}

std::vector<RowPart> CounterSnapshotter::takeParts()
{
    if (!shares_.primed()) {
        reader_->read(readings_);
        shares_.next(readings_, reader_->resumed());
        if (sleep_)
            sleep_(firstInterval_);
        else
            std::this_thread::sleep_for(firstInterval_);
    }
    reader_->read(readings_);
    std::vector<RowPart> parts{RowPart{0, std::make_shared<const std::vector<PSRow>>(
                                              shares_.next(readings_, reader_->resumed()))}};
    for (RowPart& part : reader_->idleParts())
        parts.push_back(std::move(part));
    return parts;
}

std::vector<PSRow> CounterSnapshotter::take()
{
    std::vector<PSRow> rows;
    for (const RowPart& part : takeParts())
        rows.insert(rows.end(), part.rows->begin(), part.rows->end());
    std::sort(rows.begin(), rows.end(),
              [](const PSRow& a, const PSRow& b) { return a.pid < b.pid; });
    return rows;
}

} // namespace corvel
