#include "fake_monitor.h"

#include <mutex>

#include <QSignalSpy>

namespace corvel::test {

struct FakeMonitor::Feed
{
    std::mutex lock;
    std::vector<PSRow> rows;
    std::vector<RunningAppRef> running;

    void set(const std::vector<FakeApp>& apps)
    {
        std::vector<PSRow> newRows;
        std::vector<RunningAppRef> newRunning;
        std::int32_t pid = 1000;
        for (const FakeApp& app : apps) {
            auto record = std::make_shared<RunningApp>();
            record->processIdentifier = pid;
            record->bundleIdentifier = app.id;
            record->localizedName = app.name;
            if (!app.icon.empty())
                record->icon = std::make_shared<const IconRef>(IconRef{app.icon});
            newRunning.push_back(std::move(record));
            // The application's own process carries its figures; helpers are its children.
            newRows.push_back(PSRow{pid, 1, app.cpu, app.memoryKB, "/usr/bin/" + app.id});
            for (std::int64_t n = 1; n < app.processes; ++n)
                newRows.push_back(PSRow{pid + static_cast<std::int32_t>(n), pid, 0, 0, "helper"});
            pid += static_cast<std::int32_t>(app.processes) + 10;
        }
        const std::lock_guard guard(lock);
        rows = std::move(newRows);
        running = std::move(newRunning);
    }
};

namespace {

class FeedSnapshotter final : public ProcessSnapshotter
{
  public:
    explicit FeedSnapshotter(std::shared_ptr<FakeMonitor::Feed> feed) : feed_(std::move(feed)) {}
    std::vector<PSRow> take() override
    {
        const std::lock_guard guard(feed_->lock);
        return feed_->rows;
    }

  private:
    std::shared_ptr<FakeMonitor::Feed> feed_;
};

class FeedApplications final : public RunningApplications
{
  public:
    explicit FeedApplications(std::shared_ptr<FakeMonitor::Feed> feed) : feed_(std::move(feed)) {}
    RunningApps list() override
    {
        const std::lock_guard guard(feed_->lock);
        return {feed_->running, {}, {}};
    }

  private:
    std::shared_ptr<FakeMonitor::Feed> feed_;
};

} // namespace

FakeMonitor::FakeMonitor(const std::vector<FakeApp>& apps, double cores)
    : feed_(std::make_shared<Feed>())
{
    feed_->set(apps);
    Monitor::Sources sources;
    sources.snapshot = std::make_unique<FeedSnapshotter>(feed_);
    sources.running = std::make_unique<FeedApplications>(feed_);
    sources.cores = cores;
    sources.interval = std::chrono::milliseconds(0);
    monitor_ = std::make_unique<Monitor>(std::move(sources));
    // The constructor started the first cycle.
    QSignalSpy published(monitor_.get(), &Monitor::totalCPUChanged);
    published.wait(5000);
}

FakeMonitor::~FakeMonitor() = default;

bool FakeMonitor::publish(const std::vector<FakeApp>& apps)
{
    feed_->set(apps);
    QSignalSpy published(monitor_.get(), &Monitor::totalCPUChanged);
    if (!monitor_->refresh())
        return false;
    return published.wait(5000);
}

} // namespace corvel::test
