#include "watched_monitor.h"

#include "desktop_applications.h"

#include <cmath>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>

#include <QEventLoop>
#include <QTimer>

namespace corvel::testing {

struct WatchedMonitor::Log
{
    std::mutex mutex;
    std::deque<std::vector<PSRow>> unchecked;
    RowObserver observer;
};

namespace {

class RecordingSnapshot final : public ProcessSnapshotter
{
public:
    RecordingSnapshot(std::unique_ptr<ProcessSnapshotter> inner,
                      std::shared_ptr<WatchedMonitor::Log> log)
        : inner_(std::move(inner)), log_(std::move(log))
    {}
    std::vector<PSRow> take() override
    {
        std::vector<PSRow> rows = inner_->take();
        if (log_->observer)
            log_->observer(rows, WatchedMonitor::Clock::now());
        const std::lock_guard lock(log_->mutex);
        log_->unchecked.push_back(rows);
        return rows;
    }

private:
    std::unique_ptr<ProcessSnapshotter> inner_;
    std::shared_ptr<WatchedMonitor::Log> log_;
};

// What is wrong with the list and total `monitor` published for a snapshot of `rows`.
std::string problemsOf(const Monitor& monitor, const std::vector<PSRow>& rows)
{
    std::ostringstream found;
    const auto near = [](double a, double b) { // the sums are taken in another order
        return std::fabs(a - b) <= 1e-9 * std::max({1.0, std::fabs(a), std::fabs(b)}) ||
               (std::isnan(a) && std::isnan(b));
    };
    std::set<std::string> ids;
    std::int64_t processes = 0;
    double cpu = 0;
    double rowsCpu = 0;
    const std::vector<AppUsage>& apps = monitor.apps();
    for (std::size_t i = 0; i < apps.size(); ++i) {
        const AppUsage* before = i > 0 ? &apps[i - 1] : nullptr;
        if (!ids.insert(apps[i].id).second || apps[i].processCount < 1)
            found << apps[i].id << " repeated or without processes; ";
        if (before && (std::isnan(before->cpu) || std::isnan(apps[i].cpu)
                           ? !std::isnan(apps[i].cpu)
                           : before->cpu < apps[i].cpu || (before->cpu == apps[i].cpu &&
                                                           before->memoryKB < apps[i].memoryKB)))
            found << apps[i].id << " out of order; ";
        processes += apps[i].processCount;
        cpu += apps[i].cpu;
    }
    for (const PSRow& row : rows)
        rowsCpu += row.cpu;
    if (processes != static_cast<std::int64_t>(rows.size()))
        found << processes << " processes counted for " << rows.size() << " rows; ";
    const double share =
        std::isnan(rowsCpu / monitor.cores()) ? 100.0 : std::min(rowsCpu / monitor.cores(), 100.0);
    if (!near(cpu, rowsCpu) || !near(monitor.totalCPU(), share) || monitor.totalCPU() < 0)
        found << "cpu " << cpu << " and total " << monitor.totalCPU() << " for rows' " << rowsCpu;
    return found.str();
}

} // namespace

void useOwnSession(const std::filesystem::path& root)
{
    for (const auto& [name, folder] : {std::pair{"HOME", "home"},
                                       {"XDG_DATA_HOME", "home/.local/share"},
                                       {"XDG_CONFIG_HOME", "home/.config"},
                                       {"XDG_DATA_DIRS", "usr/share"},
                                       {"XDG_CONFIG_DIRS", "etc/xdg"}}) {
        std::filesystem::create_directories(root / folder);
        ::setenv(name, (root / folder).c_str(), 1);
    }
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    const auto write = [&](const std::filesystem::path& file, const std::string& text) {
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file) << text;
    };
    write(root / "usr/share/applications/org.example.Sleeper.desktop",
          "[Desktop Entry]\nType=Application\nName=Sleeper\nExec=sleep 1\nIcon=sleeper\n");
    write(root / "home/.local/share/applications/org.example.Notes.desktop",
          "[Desktop Entry]\nType=Application\nName=Notes (local)\nExec=notes %F\n");
}

WatchedMonitor::WatchedMonitor(std::chrono::milliseconds interval, RowObserver rowObserver)
    : log_(std::make_shared<Log>())
{
    log_->observer = std::move(rowObserver);
    Monitor::Sources sources = Monitor::systemSources(makeDesktopApplications());
    sources.interval = interval;
    sources.snapshot = std::make_unique<RecordingSnapshot>(std::move(sources.snapshot), log_);
    monitor_ = std::make_unique<Monitor>(std::move(sources));
    // apps first, then the total: by the list's signal both of one cycle are stored.
    QObject::connect(monitor_.get(), &Monitor::appsChanged, [this] { check(); });
}

WatchedMonitor::~WatchedMonitor() = default;

void WatchedMonitor::check()
{
    ++published_;
    std::vector<PSRow> rows;
    {
        const std::lock_guard lock(log_->mutex);
        if (!log_->unchecked.empty()) {
            rows = std::move(log_->unchecked.front());
            log_->unchecked.pop_front();
        }
    }
    if (const std::string found = problemsOf(*monitor_, rows); !found.empty()) {
        ++faulty_;
        if (problems_.size() < 20)
            problems_.push_back("publication " + std::to_string(published_) + ": " + found);
    }
    if (onPublication)
        onPublication(published_);
    if (done_ && done_(published_) && quit_)
        quit_();
}

int WatchedMonitor::runUntil(const std::function<bool(int)>& done, std::chrono::seconds limit)
{
    if (done(published_))
        return published_;
    QEventLoop loop;
    QTimer::singleShot(limit, &loop, &QEventLoop::quit);
    done_ = done;
    quit_ = [&loop] { loop.quit(); };
    loop.exec();
    done_ = nullptr;
    quit_ = nullptr;
    return published_;
}

} // namespace corvel::testing
