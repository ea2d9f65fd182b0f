#include "cycle.h"
#include "monitor.h"
#include "support/fake_sources.h"
#include "support/self_watch.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <limits>
#include <sstream>
#include <thread>

#include <QCoreApplication>
#include <QSignalSpy>

using namespace corvel;
using namespace corvel::testing;
using namespace std::chrono_literals;

namespace {

PSRow row(std::int32_t pid, double cpu)
{
    return PSRow{pid, 1, cpu, 100, "/bin/x"};
}

TEST(ScaleTotal, SharesOfTheMachineCappedAtOneHundred)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct
    {
        double total, cores, share;
    } cases[] = {{250, 2, 100}, {400, 8, 50}, {0, 4, 0}, {nan, 2, 100}, {0, 0, 100}, {-4, 2, -2}};
    for (const auto& c : cases)
        EXPECT_EQ(scaleTotal(c.total, c.cores), c.share) << c.total << " on " << c.cores;
}

// Both values of a cycle are published together, list first, every cycle, and a snapshot
// that throws publishes an empty list and zero without ending the sampling.
TEST(Monitor, PublishesEachCycleAndSurvivesAFailedSnapshot)
{
    FakeFeed feed;
    feed.change([](auto& s) { s.rows = {row(10, 150), row(11, 100)}; });
    Monitor monitor(feed.sources(2));
    EXPECT_TRUE(monitor.apps().empty());
    EXPECT_EQ(monitor.totalCPU(), 0.0);
    ASSERT_TRUE(published(monitor)); // the first cycle starts with the monitor
    ASSERT_EQ(monitor.apps().size(), 1u);
    EXPECT_EQ(monitor.apps()[0].id, "__system");
    EXPECT_EQ(monitor.apps()[0].cpu, 250); // one application's share is not rescaled
    EXPECT_EQ(monitor.totalCPU(), 100);

    std::vector<std::string> seen;
    const auto note = [&](const char* what) {
        seen.push_back(what + std::to_string(monitor.apps().size()) + " " +
                       std::to_string(static_cast<int>(monitor.totalCPU())));
    };
    QObject::connect(&monitor, &Monitor::appsChanged, [&] { note("apps "); });
    QObject::connect(&monitor, &Monitor::totalCPUChanged, [&] { note("total "); });
    feed.change([](auto& s) { s.rows = {row(10, 60), row(20, 40)}; });
    ASSERT_TRUE(published(monitor, &Monitor::refresh));
    ASSERT_TRUE(published(monitor, &Monitor::refresh)); // nothing changed: published again
    feed.change([](auto& s) { s.fails = true; });
    ASSERT_TRUE(published(monitor, &Monitor::refresh));
    feed.change([](auto& s) { s.fails = false; });
    ASSERT_TRUE(published(monitor, &Monitor::refresh));
    EXPECT_EQ(seen, (std::vector<std::string>{"apps 1 50", "total 1 50", "apps 1 50", "total 1 50",
                                              "apps 0 0", "total 0 0", "apps 1 50", "total 1 50"}));
}

TEST(Monitor, ASlowSnapshotMakesTicksSkipNeverOverlap)
{
    FakeFeed feed;
    feed.change([](auto& s) { s.held = true; });
    Monitor monitor(feed.sources(1, 5ms)); // many ticks while the first snapshot is held
    EXPECT_TRUE(monitor.cycleInFlight());
    EXPECT_FALSE(monitor.refresh());
    QSignalSpy publications(&monitor, &Monitor::totalCPUChanged);
    EXPECT_FALSE(publications.wait(200)); // ticks come and go; nothing may start or publish
    EXPECT_EQ(feed.counts().taken, 1);
    feed.change([](auto& s) { s.held = false; });
    while (feed.counts().taken < 4)
        ASSERT_TRUE(publications.wait(10000));
    EXPECT_EQ(feed.counts().mostAtOnce, 1);
}

// Field 19 of a thread's stat: its nice value.
int niceOf(pid_t tid)
{
    std::istringstream fields(statAfterName(tid));
    std::string field;
    for (int i = 3; i <= 19; ++i)
        fields >> field;
    return std::stoi(field);
}

// Sampling yields to the interface: exactly one thread, the worker, runs at a higher nice.
TEST(Monitor, SamplesBelowTheInterfacesPriority)
{
    FakeFeed feed;
    Monitor monitor(feed.sources());
    ASSERT_TRUE(published(monitor));
    const int mainNice = niceOf(::getpid());
    int lowered = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task"))
        lowered += niceOf(std::stoi(task.path().filename().string())) > mainNice;
    EXPECT_EQ(lowered, 1);
}

// Destroying the monitor waits for the cycle in flight, whose result is dropped rather than
// delivered into freed memory (the sanitizer builds see the difference).
TEST(Monitor, DestroyedWhileACycleIsInFlight)
{
    FakeFeed feed;
    feed.change([](auto& s) { s.held = true; });
    auto monitor = std::make_unique<Monitor>(feed.sources());
    std::thread releaser([&feed] {
        std::this_thread::sleep_for(100ms);
        feed.change([](auto& s) { s.held = false; });
    });
    monitor.reset();
    releaser.join();
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
