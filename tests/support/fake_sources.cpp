#include "support/fake_sources.h"

#include <stdexcept>

#include <QSignalSpy>

namespace corvel::testing {
namespace {

class FeedSnapshot final : public ProcessSnapshotter
{
public:
    explicit FeedSnapshot(std::shared_ptr<FakeFeed::State> state) : s_(std::move(state)) {}
    std::vector<PSRow> take() override
    {
        std::unique_lock lock(s_->mutex);
        ++s_->taken;
        s_->mostAtOnce = std::max(s_->mostAtOnce, ++s_->inside);
        s_->released.wait(lock, [&] { return !s_->held; });
        --s_->inside;
        if (s_->fails)
            throw std::runtime_error("snapshot failed");
        return s_->rows;
    }

private:
    std::shared_ptr<FakeFeed::State> s_;
};

class FeedApplications final : public RunningApplications
{
public:
    explicit FeedApplications(std::shared_ptr<FakeFeed::State> state) : s_(std::move(state)) {}
    RunningApps list() override
    {
        const std::lock_guard lock(s_->mutex);
        return {s_->running, {}, {}};
    }

private:
    std::shared_ptr<FakeFeed::State> s_;
};

} // namespace

void FakeFeed::set(const std::vector<FakeApp>& apps)
{
    std::vector<PSRow> rows;
    std::vector<RunningAppRef> running;
    std::int32_t pid = 1000;
    for (const FakeApp& app : apps) {
        auto record = std::make_shared<RunningApp>();
        record->processIdentifier = pid;
        record->bundleIdentifier = app.id;
        record->localizedName = app.name;
        if (!app.icon.empty())
            record->icon = std::make_shared<const IconRef>(IconRef{app.icon});
        running.push_back(std::move(record));
        rows.push_back(PSRow{pid, 1, app.cpu, app.memoryKB, "/usr/bin/" + app.id});
        for (std::int32_t n = 1; n < app.processes; ++n)
            rows.push_back(PSRow{pid + n, pid, 0, 0, "helper"});
        pid += static_cast<std::int32_t>(app.processes) + 10;
    }
    change([&](State& s) {
        s.rows = std::move(rows);
        s.running = std::move(running);
    });
}

void FakeFeed::change(const std::function<void(State&)>& edit)
{
    const std::lock_guard lock(state_->mutex);
    edit(*state_);
    state_->released.notify_all();
}

FakeFeed::Counts FakeFeed::counts() const
{
    const std::lock_guard lock(state_->mutex);
    return {state_->taken, state_->mostAtOnce};
}

Monitor::Sources FakeFeed::sources(double cores, std::chrono::milliseconds interval) const
{
    return {std::make_unique<FeedSnapshot>(state_), std::make_unique<FeedApplications>(state_),
            cores, interval};
}

bool published(Monitor& monitor, bool (Monitor::*start)())
{
    QSignalSpy spy(&monitor, &Monitor::totalCPUChanged);
    return (!start || (monitor.*start)()) && spy.wait(10000);
}

FakeMonitor::FakeMonitor(const std::vector<FakeApp>& apps, double cores)
{
    feed_.set(apps);
    monitor_ = std::make_unique<Monitor>(feed_.sources(cores));
    published(*monitor_); // the constructor started the first cycle
}

bool FakeMonitor::publish(const std::vector<FakeApp>& apps)
{
    feed_.set(apps);
    return published(*monitor_, &Monitor::refresh);
}

} // namespace corvel::testing
