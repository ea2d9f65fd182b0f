#pragma once

#include "cycle_log.h"
#include "monitor.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace corvel::testing {

// Points this process's desktop folders (HOME and the XDG variables) below `root`, with two
// desktop entries of its own, and leaves it without a display: the real desktop layer then
// reads only what the test made.
void useOwnSession(const std::filesystem::path& root);

// The real Monitor on the given sources (by default this system's: /proc and the desktop
// layer), every cycle recorded and every publication checked against its snapshot.
class WatchedMonitor
{
  public:
    explicit WatchedMonitor(std::chrono::milliseconds interval,
                            CycleLog::RowObserver rowObserver = {});
    WatchedMonitor(Monitor::Sources sources, CycleLog::RowObserver rowObserver);
    ~WatchedMonitor();

    // Called on the main thread after each checked publication, with the count so far.
    std::function<void(int published)> onPublication;

    // Runs the event loop until `done` holds after a publication, or `limit` has passed.
    // Returns the publications so far.
    int runUntil(const std::function<bool(int published)>& done, std::chrono::seconds limit);

    Monitor& monitor() { return *monitor_; }
    const CycleLog& log() const { return *log_; }
    int published() const { return published_; }
    int faultyPublications() const { return faulty_; }
    // The first few problems found, each prefixed with its publication's number.
    const std::vector<std::string>& problems() const { return problems_; }

  private:
    void onPublished();

    std::shared_ptr<CycleLog> log_;
    std::unique_ptr<Monitor> monitor_;
    std::function<bool(int)> done_;
    std::function<void()> quit_;
    int published_ = 0;
    int faulty_ = 0;
    std::vector<std::string> problems_;
};

} // namespace corvel::testing
