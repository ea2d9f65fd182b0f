#pragma once

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

// The real Monitor on this system's sources (/proc and the desktop layer), each publication
// checked against the snapshot its cycle took: ids unique; cpu descending, ties by memory,
// shares that are not a number last; every snapshot row counted once; the entries' cpu adding
// up to the rows'; the total the machine's share of it, within 0 and 100.
class WatchedMonitor
{
public:
    using Clock = std::chrono::steady_clock;
    // Sees every snapshot's rows on the worker, with the time it was taken.
    using RowObserver = std::function<void(const std::vector<PSRow>&, Clock::time_point)>;

    explicit WatchedMonitor(std::chrono::milliseconds interval, RowObserver rowObserver = {});
    ~WatchedMonitor();

    // Called on the main thread after each checked publication, with the count so far.
    std::function<void(int published)> onPublication;

    // Runs the event loop until `done` holds after a publication, or `limit` has passed.
    // Returns the publications so far.
    int runUntil(const std::function<bool(int published)>& done, std::chrono::seconds limit);

    Monitor& monitor() { return *monitor_; }
    int published() const { return published_; }
    int faultyPublications() const { return faulty_; }
    // The first few problems found, each with its publication's number.
    const std::vector<std::string>& problems() const { return problems_; }

    struct Log; // what each cycle's snapshot held, until its publication is checked

private:
    void check();

    std::shared_ptr<Log> log_;
    std::unique_ptr<Monitor> monitor_;
    std::function<bool(int)> done_;
    std::function<void()> quit_;
    int published_ = 0;
    int faulty_ = 0;
    std::vector<std::string> problems_;
};

} // namespace corvel::testing
