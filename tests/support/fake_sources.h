#pragma once

// Canned sources for the Monitor: a snapshot that hands out the rows a test set, and may be
// held or made to throw (a standard exception or not), and a desktop that lists the applications
// set with them.

#include "monitor.h" // and the threading headers through it

#include <stdexcept>

#include <QSignalSpy>

namespace corvel::testing {

// One application of a canned publication: its own process carries the figures, and
// `processes - 1` helpers are its children.
struct FakeApp
{
    std::string id, name;
    double cpu = 0;
    std::int64_t memoryKB = 0, processes = 1;
    std::string icon;     // icon-theme name or absolute path; empty for none
    double helperCpu = 0; // each helper's share
};

class FakeFeed
{
public:
    struct State
    {
        std::vector<PSRow> rows;
        std::vector<RunningAppRef> running;
        bool held = false; // a snapshot waits until let go
        int fails = 0;     // 1: a snapshot throws a standard exception, 2: something else
        int taken = 0, mostAtOnce = 0, inside = 0; // snapshots started, most at once, running
        std::mutex mutex;
        std::condition_variable released;
    };
    struct Counts
    {
        int taken, mostAtOnce;
    };

    // Rows and running applications made up to match `apps`.
    void set(const std::vector<FakeApp>& apps)
    {
        std::vector<PSRow> rows;
        std::vector<RunningAppRef> running;
        std::int32_t pid = 1000;
        for (const FakeApp& app : apps) {
            running.push_back(std::make_shared<RunningApp>(RunningApp{
                .processIdentifier = pid,
                .bundleIdentifier = app.id,
                .localizedName = app.name,
                .icon = app.icon.empty() ? nullptr : std::make_shared<const IconRef>(app.icon)}));
            rows.push_back(PSRow{pid, 1, app.cpu, app.memoryKB, "/usr/bin/" + app.id});
            for (std::int32_t n = 1; n < app.processes; ++n)
                rows.push_back(PSRow{pid + n, pid, app.helperCpu, 0, "/usr/lib/helper --n"});
            pid += static_cast<std::int32_t>(app.processes) + 10;
        }
        change([&](State& s) { s.rows = std::move(rows), s.running = std::move(running); });
    }
    // Changes the state under its lock, waking a held snapshot.
    void change(const std::function<void(State&)>& edit)
    {
        const std::lock_guard lock(state_->mutex);
        edit(*state_);
        state_->released.notify_all();
    }
    Counts counts() const
    {
        const std::lock_guard lock(state_->mutex);
        return {state_->taken, state_->mostAtOnce};
    }
    // Sources over this feed; interval zero: cycles start only through refresh().
    Monitor::Sources sources(double cores = 1, std::chrono::milliseconds interval = {}) const
    {
        return {std::make_unique<Feed>(state_), std::make_unique<Feed>(state_), cores, interval};
    }

private:
    class Feed final : public ProcessSnapshotter, public RunningApplications
    {
    public:
        explicit Feed(std::shared_ptr<State> state) : s_(std::move(state)) {}
        std::vector<PSRow> take() override
        {
            std::unique_lock lock(s_->mutex);
            ++s_->taken;
            s_->mostAtOnce = std::max(s_->mostAtOnce, ++s_->inside);
            s_->released.wait(lock, [&] { return !s_->held; });
            --s_->inside;
            if (s_->fails)
                s_->fails == 1 ? throw std::runtime_error("snapshot failed") : throw 7;
            return s_->rows;
        }
        RunningApps list() override
        {
            const std::lock_guard lock(s_->mutex);
            return {s_->running, {}, {}};
        }

    private:
        std::shared_ptr<State> s_;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

// Calls `start` (if given) and waits for the monitor's next publication; false when `start`
// fails or nothing is published within ten seconds.
inline bool published(Monitor& monitor, bool (Monitor::*start)() = nullptr)
{
    QSignalSpy spy(&monitor, &Monitor::totalCPUChanged);
    return (!start || (monitor.*start)()) && spy.wait(10000);
}

// A Monitor over a feed that has published `apps` by the time the constructor returns;
// publish() runs one cycle over others.
struct FakeMonitor
{
    explicit FakeMonitor(const std::vector<FakeApp>& apps = {}, double cores = 1)
        : monitor_((feed_.set(apps), feed_.sources(cores)))
    {
        published(monitor_); // the constructor started the first cycle
    }
    Monitor& monitor() { return monitor_; }
    // `fails`: as FakeFeed::State's, for this cycle.
    bool publish(const std::vector<FakeApp>& apps, int fails = 0)
    {
        feed_.set(apps), feed_.change([&](auto& s) { s.fails = fails; });
        return published(monitor_, &Monitor::refresh);
    }

private:
    FakeFeed feed_;
    Monitor monitor_;
};

} // namespace corvel::testing
