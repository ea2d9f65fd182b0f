#include "cycle.h"
#include "monitor.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QSignalSpy>

#include <atomic>
#include <cmath>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <limits>
#include <mutex>
#include <thread>

using namespace corvel;
using namespace std::chrono_literals;

namespace {

// Rows handed out by a snapshot; a test may hold a snapshot until it lets it go.
struct Script
{
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<PSRow> rows;
    bool holding = false;
    int taken = 0;
    int inside = 0;
    int mostInside = 0;

    void set(std::vector<PSRow> next)
    {
        std::lock_guard lock(mutex);
        rows = std::move(next);
    }
    void hold()
    {
        std::lock_guard lock(mutex);
        holding = true;
    }
    void release()
    {
        std::lock_guard lock(mutex);
        holding = false;
        changed.notify_all();
    }
    int takenSoFar()
    {
        std::lock_guard lock(mutex);
        return taken;
    }
};

class ScriptedSnapshot final : public ProcessSnapshotter
{
public:
    explicit ScriptedSnapshot(std::shared_ptr<Script> script) : script_(std::move(script)) {}
    std::vector<PSRow> take() override
    {
        std::unique_lock lock(script_->mutex);
        ++script_->taken;
        script_->mostInside = std::max(script_->mostInside, ++script_->inside);
        script_->changed.wait(lock, [&] { return !script_->holding; });
        --script_->inside;
        return script_->rows;
    }

private:
    std::shared_ptr<Script> script_;
};

class FixedApplications final : public RunningApplications
{
public:
    explicit FixedApplications(std::vector<RunningAppRef> apps) : apps_(std::move(apps)) {}
    RunningApps list() override { return {apps_, {}, {}}; }

private:
    std::vector<RunningAppRef> apps_;
};

Monitor::Sources sources(std::shared_ptr<Script> script, double cores,
                         std::vector<RunningAppRef> apps = {})
{
    Monitor::Sources s;
    s.snapshot = std::make_unique<ScriptedSnapshot>(std::move(script));
    s.running = std::make_unique<FixedApplications>(std::move(apps));
    s.cores = cores;
    s.interval = 0ms; // tests start cycles themselves
    return s;
}

bool waitForCycle(Monitor& monitor)
{
    QSignalSpy spy(&monitor, &Monitor::totalCPUChanged);
    return spy.wait(10000);
}

PSRow row(std::int32_t pid, double cpu, std::int64_t rss = 100)
{
    return PSRow{pid, 1, cpu, rss, "/bin/x"};
}

TEST(ScaleTotal, CapsAtOneHundredAndTreatsNotANumberAsFull)
{
    EXPECT_EQ(scaleTotal(250, 2), 100);
    EXPECT_EQ(scaleTotal(400, 8), 50);
    EXPECT_EQ(scaleTotal(0, 4), 0);
    EXPECT_EQ(scaleTotal(std::numeric_limits<double>::quiet_NaN(), 2), 100);
    EXPECT_EQ(scaleTotal(0, 0), 100); // 0/0 is not a number
    EXPECT_EQ(scaleTotal(-4, 2), -2); // no lower bound
}

TEST(Monitor, FirstCycleStartsAtConstructionAndPublishesBothValues)
{
    auto script = std::make_shared<Script>();
    script->set({row(10, 150, 100), row(11, 100, 50)});
    Monitor monitor(sources(script, 2));
    EXPECT_TRUE(monitor.apps().empty());
    EXPECT_EQ(monitor.totalCPU(), 0.0);
    ASSERT_TRUE(waitForCycle(monitor));
    ASSERT_EQ(monitor.apps().size(), 1u);
    EXPECT_EQ(monitor.apps()[0].id, "__system");
    EXPECT_EQ(monitor.apps()[0].cpu, 250); // per-application shares are not rescaled
    EXPECT_EQ(monitor.totalCPU(), 100);
}

TEST(Monitor, NotifiesTwicePerCycleWithListAndTotalOfTheSameCycle)
{
    auto script = std::make_shared<Script>();
    script->set({row(10, 40)});
    Monitor monitor(sources(script, 4));
    ASSERT_TRUE(waitForCycle(monitor));

    std::vector<std::string> seen;
    QObject::connect(&monitor, &Monitor::appsChanged, [&] {
        seen.push_back("apps " + std::to_string(monitor.apps().size()) + " total " +
                       std::to_string(static_cast<int>(monitor.totalCPU())));
    });
    QObject::connect(&monitor, &Monitor::totalCPUChanged, [&] {
        seen.push_back("total " + std::to_string(static_cast<int>(monitor.totalCPU())));
    });
    script->set({row(10, 100), row(20, 100)});
    ASSERT_TRUE(monitor.refresh());
    ASSERT_TRUE(waitForCycle(monitor));
    ASSERT_TRUE(monitor.refresh()); // nothing changed: still two notifications
    ASSERT_TRUE(waitForCycle(monitor));
    EXPECT_EQ(seen, (std::vector<std::string>{"apps 1 total 50", "total 50", "apps 1 total 50",
                                              "total 50"}));
}

TEST(Monitor, ProhibitedApplicationsAreLeftOutAccessoryOnesCount)
{
    auto script = std::make_shared<Script>();
    script->set({row(10, 1), row(20, 2), row(21, 0.5)});
    const auto hidden = std::make_shared<const RunningApp>(RunningApp{
        .processIdentifier = 10, .activationPolicy = ActivationPolicy::prohibited,
        .bundleIdentifier = "hidden"});
    const auto tray = std::make_shared<const RunningApp>(RunningApp{
        .processIdentifier = 20, .activationPolicy = ActivationPolicy::accessory,
        .bundleIdentifier = "tray", .localizedName = "Tray"});
    Monitor monitor(sources(script, 1, {hidden, tray}));
    ASSERT_TRUE(waitForCycle(monitor));
    ASSERT_EQ(monitor.apps().size(), 2u);
    EXPECT_EQ(monitor.apps()[0].id, "tray");
    EXPECT_EQ(monitor.apps()[0].processCount, 1);
    EXPECT_EQ(monitor.apps()[1].id, "__system");
}

TEST(Monitor, AFailedSnapshotPublishesAnEmptyListAndZero)
{
    auto script = std::make_shared<Script>();
    script->set({row(10, 50)});
    Monitor monitor(sources(script, 1));
    ASSERT_TRUE(waitForCycle(monitor));
    ASSERT_FALSE(monitor.apps().empty());
    script->set({});
    ASSERT_TRUE(monitor.refresh());
    ASSERT_TRUE(waitForCycle(monitor));
    EXPECT_TRUE(monitor.apps().empty());
    EXPECT_EQ(monitor.totalCPU(), 0.0);
}

TEST(Monitor, ASlowSnapshotMakesTicksSkipNeverOverlap)
{
    auto script = std::make_shared<Script>();
    script->set({row(10, 50)});
    script->hold();
    Monitor::Sources s = sources(script, 1);
    s.interval = 5ms; // many ticks while the first snapshot is held
    Monitor monitor(std::move(s));
    EXPECT_TRUE(monitor.cycleInFlight());
    EXPECT_FALSE(monitor.refresh());
    QSignalSpy published(&monitor, &Monitor::totalCPUChanged);
    EXPECT_FALSE(published.wait(200)); // ticks come and go; nothing may start or publish
    EXPECT_EQ(script->takenSoFar(), 1);
    script->release();
    ASSERT_TRUE(published.wait(10000));
    while (script->takenSoFar() < 4)
        ASSERT_TRUE(published.wait(10000));
    std::lock_guard lock(script->mutex);
    EXPECT_EQ(script->mostInside, 1);
}

// Sampling yields to the interface: the worker thread runs at a nice value above ours.
TEST(Monitor, SamplesBelowTheInterfacesPriority)
{
    auto script = std::make_shared<Script>();
    Monitor monitor(sources(script, 1));
    ASSERT_TRUE(waitForCycle(monitor));
    const auto niceOf = [](const std::filesystem::path& stat) {
        std::ifstream in(stat);
        const std::string text{std::istreambuf_iterator<char>(in), {}};
        std::istringstream fields(text.substr(text.rfind(')') + 2));
        std::string field;
        for (int i = 3; i <= 19 && fields >> field; ++i) {
        }
        return std::stoi(field); // field 19: nice
    };
    const int mainNice = niceOf("/proc/thread-self/stat");
    int lowered = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task"))
        lowered += niceOf(task.path() / "stat") > mainNice;
    EXPECT_EQ(lowered, 1);
}

// Destroying the monitor waits for the cycle in flight; its result is dropped, not delivered
// into freed memory.
TEST(Monitor, DestroyedWhileACycleIsInFlight)
{
    auto script = std::make_shared<Script>();
    script->set({row(10, 50)});
    script->hold();
    auto monitor = std::make_unique<Monitor>(sources(script, 1));
    std::thread releaser([script] {
        std::this_thread::sleep_for(100ms);
        script->release();
    });
    monitor.reset();
    releaser.join();
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents();
    SUCCEED();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
