// The monitor over canned sources, and the long run (disabled here; ctest's long_run_test).
#include "cycle.h"
#include "desktop_applications.h"
#include "ps_tool.h"
#include "support/fake_sources.h"
#include "support/idle_children.h"
#include "support/self_watch.h"
#include "support/temp_dir.h"
#include "support/test_cgroup.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>

#include <QCoreApplication>
#include <QSignalSpy>

extern char** environ;

using namespace corvel;
using namespace corvel::testing;
using namespace std::chrono_literals;

namespace {

// Both values of a cycle are published together, list first, every cycle; the machine's is a
// share of all its cores, capped at one hundred. A snapshot that throws anything, or a
// process-status tool that fails, leaves the last figures marked stale and says so once per
// kind on stderr; the next good cycle clears the mark.
TEST(Monitor, PublishesEachCycleAndSurvivesAFailedSnapshot)
{
    const double cases[][3] = {{250, 2, 100}, {400, 8, 50}, {0, 4, 0},
                               {NAN, 2, 100}, {0, 0, 100},  {-4, 2, -2}};
    for (const auto& [total, cores, share] : cases)
        EXPECT_EQ(scaleTotal(total, cores), share) << total << " on " << cores;
    FakeMonitor fake({}, 2);
    Monitor& monitor = fake.monitor();
    std::string seen;
    const auto note = [&](const char* what) {
        const auto& apps = monitor.apps();
        seen += what + std::to_string(apps.size()) + " " +
                std::to_string(int(apps.empty() ? 0 : apps[0].cpu)) + " " +
                std::to_string(int(monitor.totalCPU())) + (monitor.staleSince() ? "?" : "") + "; ";
    };
    QObject::connect(&monitor, &Monitor::appsChanged, [&] { note("apps "); });
    QObject::connect(&monitor, &Monitor::totalCPUChanged, [&] { note("total "); });
    ::testing::internal::CaptureStderr();
    // A change, the same again (published all the same), failures of either kind, a good cycle.
    const std::pair<double, int> cycles[] = {{250, 0}, {100, 0}, {100, 0}, {100, 1},
                                             {100, 2}, {100, 1}, {100, 0}};
    for (const auto& [cpu, fails] : cycles)
        ASSERT_TRUE(fake.publish({{"x", "X", cpu}}, fails));
    // One application's share is not rescaled; the machine's is, and capped.
    EXPECT_EQ(seen,
              "apps 1 250 100; total 1 250 100; apps 1 100 50; total 1 100 50; apps 1 100 50; "
              "total 1 100 50; apps 1 100 50?; total 1 100 50?; apps 1 100 50?; total 1 100 50?; "
              "apps 1 100 50?; total 1 100 50?; apps 1 100 50; total 1 100 50; ");
    Monitor tool({std::make_unique<PSToolSnapshotter>("/bin/false"),
                  std::make_unique<NoRunningApplications>()});
    ASSERT_TRUE(published(tool));
    EXPECT_TRUE(tool.staleSince() && tool.apps().empty());
    EXPECT_EQ(
        ::testing::internal::GetCapturedStderr(),
        "corvel: sampling failed (snapshot failed); the figures shown are the last good ones\n"
        "corvel: sampling failed (an exception of no standard type); the figures shown are "
        "the last good ones\ncorvel: sampling failed (/bin/false listed no process); the "
        "figures shown are the last good ones\n");
}

// Turned on, detail comes at once from the last rows, also after a cycle in flight, with no
// snapshot more. Turned off, the next cycle lists no processes.
TEST(Monitor, DetailRegroupsTheLastRowsAtOnceAndEndsWhenTurnedOff)
{
    FakeFeed feed;
    feed.set({{"x", "X", 30, 100, 3}});
    Monitor monitor(feed.sources());
    QSignalSpy publications(&monitor, &Monitor::totalCPUChanged);
    const auto listed = [&] { return monitor.apps()[0].processes.get(); };
    for (const bool inFlight : {false, true}) {
        monitor.setDetailed(false);
        ASSERT_TRUE(published(monitor, monitor.cycleInFlight() ? nullptr : &Monitor::refresh));
        EXPECT_EQ(listed(), nullptr);
        feed.change([&](auto& s) { s.held = inFlight; });
        const int taken = feed.counts().taken + inFlight;
        ASSERT_TRUE(!inFlight || monitor.refresh());
        publications.clear();
        monitor.setDetailed(true);
        feed.change([](auto& s) { s.held = false; });
        while (publications.count() < 1 + inFlight)
            ASSERT_TRUE(publications.wait(10000));
        EXPECT_EQ(std::tuple(listed() ? listed()->size() : 0, feed.counts().taken),
                  std::tuple(std::size_t{3}, taken));
    }
}

// Destroying the monitor waits for the cycle in flight and drops its result.
TEST(Monitor, ASlowSnapshotMakesTicksSkipNeverOverlapAndHoldsTheDestructor)
{
    FakeFeed feed;
    feed.change([](auto& s) { s.held = true; });
    auto monitor = std::make_unique<Monitor>(feed.sources(1, 5ms)); // ticks while it is held
    EXPECT_TRUE(monitor->cycleInFlight());
    EXPECT_FALSE(monitor->refresh());
    QSignalSpy publications(monitor.get(), &Monitor::totalCPUChanged);
    EXPECT_FALSE(publications.wait(200)); // ticks come and go; nothing may start or publish
    EXPECT_EQ(feed.counts().taken, 1);
    feed.change([](auto& s) { s.held = false; });
    while (feed.counts().taken < 4)
        ASSERT_TRUE(publications.wait(10000));
    EXPECT_EQ(feed.counts().mostAtOnce, 1);

    feed.change([](auto& s) { s.held = true; });
    for (int i = 0; i < 100 && feed.counts().taken < 5; ++i) // until a tick's snapshot is held
        publications.wait(10);
    std::thread releaser([&feed] {
        std::this_thread::sleep_for(100ms);
        feed.change([](auto& s) { s.held = false; });
    });
    monitor.reset();
    releaser.join();
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

// The long run: the real monitor back to back while a shell forks a few hundred processes a
// second. Every publication keeps the list's rules, and nothing stays behind.
constexpr int warmUp = 100; // cycles before the baseline is taken, and after the churn
// Growth allowed in the live heap, four times it in the resident size.
constexpr std::int64_t allowedGrowthKB = 256;

// $1: a folder of sleep copies with confusing names; $2: seconds. Rewritten titles, execs under
// the same pid, zombies; at last an exec that only a new command line shows.
constexpr const char* churn = R"(cd "$1" || exit 1
end=$((SECONDS + $2))
while ((SECONDS < end)); do
    for name in 'a (b) c' 'x) 1 2 (y' '))) R 1 2' 'tab	end)'; do "./$name" 0.05 & done
    (exec -a 'title )( with  spaces '$'\xff' sleep 0.1) &
    (sleep 0.01 & exec sleep 0.3) &
    (sleep 0.2; exec './a (b) c' 0.2) &
    sleep 0.02
done
wait
exec /bin/bash -c 'sleep 2; :')";

// Keeps the rows it hands on, in parts: what the monitor keeps for idle cgroups is checked too.
struct Recorder final : ProcessSnapshotter
{
    std::unique_ptr<ProcessSnapshotter> inner;
    std::vector<PSRow> last;
    std::vector<PSRow> take() override { return last = inner->take(); }
    std::vector<RowPart> takeParts() override
    {
        std::vector<RowPart> parts = inner->takeParts();
        last.clear();
        for (const RowPart& part : parts)
            last.insert(last.end(), part.rows->begin(), part.rows->end());
        return parts;
    }
};

TEST(LongRun, DISABLED_ChurnKeepsEveryRuleAndHoldsNothingMore)
{
    TempDir dir;
    for (const char* name : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_DATA_DIRS"})
        ::setenv(name, dir.makeFolder(name).c_str(), 1);
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"})
        ::unsetenv(name);
    std::ofstream(dir.makeFolder("XDG_DATA_DIRS/applications") / "org.example.Sleeper.desktop")
        << "[Desktop Entry]\nType=Application\nName=Sleeper\nExec=sleep 1\nIcon=sleeper\n";
    const std::string folder = dir.makeFolder("churn");
    for (const char* name : {"a (b) c", "x) 1 2 (y", "))) R 1 2", "tab\tend)"})
        std::filesystem::copy_file("/bin/sleep", folder + "/" + name);

    Monitor::Sources sources = Monitor::systemSources(makeDesktopApplications());
    sources.interval = {}; // cycles back to back, each started by the test
    auto recorder = std::make_unique<Recorder>();
    const Recorder& log = *recorder;
    recorder->inner = std::move(sources.snapshot);
    sources.snapshot = std::move(recorder);
    Monitor monitor(std::move(sources));
    pid_t shell = -1;
    bool execSeen = false;
    // Ids unique, every row counted once, the CPU and memory adding up, kept or not.
    const auto cycle = [&] {
        ASSERT_TRUE(published(monitor, monitor.cycleInFlight() ? nullptr : &Monitor::refresh));
        double rowsCpu = 0, cpu = 0;
        std::int64_t rowsMemory = 0, memory = 0;
        for (const PSRow& row : log.last) {
            rowsCpu += row.cpu, rowsMemory += row.rssKB;
            execSeen |= row.pid == shell && row.command.starts_with("/bin/bash -c sleep 2;");
        }
        std::set<std::string> ids;
        std::size_t processes = 0;
        for (const AppUsage& app : monitor.apps())
            ids.insert(app.id), processes += app.processCount, cpu += app.cpu,
                memory += app.memoryKB;
        EXPECT_EQ(ids.size(), monitor.apps().size());
        EXPECT_EQ(std::pair(processes, memory), std::pair(log.last.size(), rowsMemory));
        EXPECT_NEAR(cpu, rowsCpu, 1e-9 * std::max(1.0, rowsCpu)); // summed in another order
        EXPECT_EQ(monitor.totalCPU(), scaleTotal(rowsCpu, monitor.cores()));
    };
    // Where a cgroup may be made, sleepers of their own in it: what they come to is kept.
    const TestCgroup quiet("long-run-idle");
    IdleChildren sleepers;
    for (int i = 0; i < 20 && !quiet.path().empty(); ++i)
        quiet.add(sleepers.start("exec /usr/bin/tail -f /dev/null")); // no entry's program
    for (int i = 0; i < warmUp && !HasFailure(); ++i)
        cycle();
    const Holdings before = currentHoldings();
    int lowered = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task"))
        lowered += getpriority(PRIO_PROCESS, std::stoi(task.path().filename())) >
                   getpriority(PRIO_PROCESS, 0);
    EXPECT_EQ(lowered, 1);

    const char* argv[] = {"/bin/bash", "-c", churn, "churn", folder.c_str(), "15", nullptr};
    ASSERT_EQ(posix_spawn(&shell, argv[0], nullptr, nullptr, const_cast<char**>(argv), environ), 0);
    int status = -1, during = 0;
    for (; ::waitpid(shell, &status, WNOHANG) != shell && during < 10000 && !HasFailure(); ++during)
        cycle();
    if (status == -1)
        ::kill(shell, SIGKILL), ::waitpid(shell, &status, 0);
    EXPECT_EQ(status, 0) << "the churn did not end by itself";
    sleepers.resize(0); // what was kept for them goes with them
    for (int i = 0; i < warmUp && !HasFailure(); ++i)
        cycle();
    // One that ends after a read (as any process may, mostly under load): its kept file goes
    // at the next read, not before.
    IdleChildren last;
    last.start("exec /usr/bin/tail -f /dev/null");
    cycle();
    last.resize(0);
    const Holdings after = currentHoldings();
    cycle();
    const Holdings next = currentHoldings();
    SCOPED_TRACE(describe(before) + " before, after " + describe(after));
    EXPECT_GE(during, 5);
    EXPECT_TRUE(execSeen) << "the shell's last exec was never shown";
    EXPECT_LE(after.descriptors, before.descriptors);
    EXPECT_TRUE(!after.ended.empty() || after.keptFiles > 200) << "kept, where there was room";
    for (const std::string& file : next.ended)
        EXPECT_FALSE(after.ended.contains(file)) << file << " held past the next read";
    EXPECT_LE(after.keptFiles, 256) << "the reader's limit on kept files";
    EXPECT_LE(after.threads, before.threads);
    EXPECT_EQ(after.children, 0);
    EXPECT_LT(after.heapKB - before.heapKB, allowedGrowthKB);
    // A sanitizer's allocator keeps freed blocks back: its resident size says nothing.
    EXPECT_LT(CORVEL_SANITIZED ? 0 : after.residentKB - before.residentKB, 4 * allowedGrowthKB);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
