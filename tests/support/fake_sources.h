#pragma once

// Canned sources for the Monitor: a snapshot that hands out the rows a test set, and may be
// held or made to throw, and a desktop that lists the applications set with them.

#include "monitor.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace corvel::testing {

// One application of a canned publication: its own process carries the figures, and
// `processes - 1` helpers are its children.
struct FakeApp
{
    std::string id;
    std::string name;
    double cpu = 0;
    std::int64_t memoryKB = 0;
    std::int64_t processes = 1;
    std::string icon; // icon-theme name or absolute path; empty for none
};

class FakeFeed
{
public:
    struct State
    {
        std::vector<PSRow> rows;
        std::vector<RunningAppRef> running;
        bool held = false;  // a held snapshot waits until it is let go
        bool fails = false; // a failing snapshot throws
        int taken = 0;      // snapshots started so far
        int mostAtOnce = 0; // most snapshots ever in progress together
        int inside = 0;
        std::mutex mutex;
        std::condition_variable released;
    };

    // Rows and running applications made up to match `apps`.
    void set(const std::vector<FakeApp>& apps);
    // Changes the state under its lock, waking a held snapshot.
    void change(const std::function<void(State&)>& edit);
    struct Counts
    {
        int taken, mostAtOnce;
    };
    Counts counts() const;
    // Sources over this feed; interval zero: cycles start only through refresh().
    Monitor::Sources sources(double cores = 1, std::chrono::milliseconds interval = {}) const;

private:
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

// Calls `start` (if given) and waits for the monitor's next publication; false when `start`
// fails or nothing is published within ten seconds.
bool published(Monitor& monitor, bool (Monitor::*start)() = nullptr);

// A Monitor over a feed that has published `apps` by the time the constructor returns.
class FakeMonitor
{
public:
    explicit FakeMonitor(const std::vector<FakeApp>& apps = {}, double cores = 1);
    Monitor& monitor() { return *monitor_; }
    // Runs one cycle over `apps`; false when it was not published.
    bool publish(const std::vector<FakeApp>& apps);

private:
    FakeFeed feed_;
    std::unique_ptr<Monitor> monitor_;
};

} // namespace corvel::testing
