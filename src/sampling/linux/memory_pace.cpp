#include "memory_pace.h"

#include <algorithm>
#include <cmath>

namespace corvel {

MemoryPace::MemoryPace(std::chrono::milliseconds fast, std::chrono::milliseconds calm)
    : fast_(static_cast<double>(fast.count()) / 1000),
      calm_(static_cast<double>(calm.count()) / 1000), period_(std::max(0.001, fast_))
{}

void MemoryPace::update(double now, std::optional<std::uint64_t> reclaimEvents)
{
    if (!reclaimEvents || !events_ || *reclaimEvents != *events_)
        movedAt_ = now;
    events_ = reclaimEvents;
    period_ = std::max(0.001, now - movedAt_ <= fast_ ? fast_ : std::max(fast_, calm_));
}

bool MemoryPace::due(std::int32_t pid, double measuredAt, double now) const
{
    const double phase = std::fmod(static_cast<double>(pid) * 0.6180339887, 1.0) * period_;
    return std::floor((now + phase) / period_) != std::floor((measuredAt + phase) / period_);
}

} // namespace corvel
