#include "watched_monitor.h"

#include "desktop_applications.h"
#include "publication_check.h"

#include <cstdlib>
#include <fstream>

#include <QEventLoop>
#include <QTimer>

namespace corvel::testing {
namespace {

constexpr std::size_t keptProblems = 20;

void writeFile(const std::filesystem::path& path, const std::string& text)
{
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

} // namespace

void useOwnSession(const std::filesystem::path& root)
{
    const auto set = [](const char* name, const std::filesystem::path& value) {
        std::filesystem::create_directories(value);
        ::setenv(name, value.c_str(), 1);
    };
    set("HOME", root / "home");
    set("XDG_DATA_HOME", root / "home/.local/share");
    set("XDG_CONFIG_HOME", root / "home/.config");
    set("XDG_DATA_DIRS", root / "usr/share");
    set("XDG_CONFIG_DIRS", root / "etc/xdg");
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    writeFile(root / "usr/share/applications/org.example.Sleeper.desktop",
              "[Desktop Entry]\nType=Application\nName=Sleeper\nExec=sleep 1\nIcon=sleeper\n");
    writeFile(root / "home/.local/share/applications/org.example.Notes.desktop",
              "[Desktop Entry]\nType=Application\nName=Notes (local)\nExec=notes %F\n");
}

WatchedMonitor::WatchedMonitor(std::chrono::milliseconds interval,
                               CycleLog::RowObserver rowObserver)
    : WatchedMonitor(
          [&] {
              Monitor::Sources sources = Monitor::systemSources(makeDesktopApplications());
              sources.interval = interval;
              return sources;
          }(),
          std::move(rowObserver))
{}

WatchedMonitor::WatchedMonitor(Monitor::Sources sources, CycleLog::RowObserver rowObserver)
    : log_(std::make_shared<CycleLog>())
{
    log_->rowObserver = std::move(rowObserver);
    sources.snapshot = std::make_unique<RecordingSnapshot>(std::move(sources.snapshot), log_);
    sources.running = std::make_unique<RecordingApplications>(std::move(sources.running), log_);
    monitor_ = std::make_unique<Monitor>(std::move(sources));
    // apps first, then the total: by the list's signal both of one cycle are stored.
    QObject::connect(monitor_.get(), &Monitor::appsChanged, [this] { onPublished(); });
}

WatchedMonitor::~WatchedMonitor() = default;

void WatchedMonitor::onPublished()
{
    ++published_;
    const auto cycle = log_->claim();
    std::vector<std::string> found;
    if (!cycle)
        found.push_back("a publication without a recorded cycle");
    else
        found =
            publicationProblems(monitor_->apps(), monitor_->totalCPU(), monitor_->cores(), *cycle);
    if (!found.empty())
        ++faulty_;
    for (const std::string& problem : found) {
        if (problems_.size() < keptProblems)
            problems_.push_back("publication " + std::to_string(published_) + ": " + problem);
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
