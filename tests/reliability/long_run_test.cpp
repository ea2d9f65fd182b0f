// The real monitor sampling every 20 ms while a shell forks a few hundred short-lived
// processes a second: some under names made to confuse a reader of /proc/<pid>/stat, some
// with a rewritten title, some exec'ing under the same pid, some left as zombies for a while;
// at the end the shell execs a shell, which /proc shows only by a new command line. Every
// publication keeps the list's rules, the last exec is seen, and afterwards the process holds
// no more descriptors, threads, children or memory than before.

#include "desktop_applications.h"
#include "monitor.h"
#include "support/self_watch.h"
#include "support/temp_dir.h"

#include <atomic>
#include <cmath>
#include <deque>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <set>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

extern char** environ;

using namespace corvel;
using namespace corvel::testing;
using namespace std::chrono_literals;

namespace {

constexpr const char* churnSeconds = "15";
constexpr int warmUp = 100; // publications before the baseline is taken
// Growth allowed in the live heap, and four times it in the resident size: a cache that kept
// half a kilobyte for each process gone would pass it.
constexpr std::int64_t allowedGrowthKB = 256;

// $1: a folder with copies of sleep under odd names; $2: seconds to churn.
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

// HOME and the XDG folders below `root`, with two desktop entries, and no display: the real
// desktop layer then reads only what the test made.
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
    std::filesystem::create_directories(root / "usr/share/applications");
    std::filesystem::create_directories(root / "home/.local/share/applications");
    std::ofstream(root / "usr/share/applications/org.example.Sleeper.desktop")
        << "[Desktop Entry]\nType=Application\nName=Sleeper\nExec=sleep 1\nIcon=sleeper\n";
    std::ofstream(root / "home/.local/share/applications/org.example.Notes.desktop")
        << "[Desktop Entry]\nType=Application\nName=Notes (local)\nExec=notes %F\n";
}

// Passes the real snapshots on, each kept until the publication made from it is checked.
struct Recorder final : ProcessSnapshotter
{
    std::unique_ptr<ProcessSnapshotter> inner;
    std::function<void(const std::vector<PSRow>&)> seen; // on the worker
    std::mutex mutex;
    std::deque<std::vector<PSRow>> unchecked;

    std::vector<PSRow> take() override
    {
        std::vector<PSRow> rows = inner->take();
        seen(rows);
        const std::lock_guard lock(mutex);
        unchecked.push_back(rows);
        return rows;
    }
    std::vector<PSRow> next()
    {
        const std::lock_guard lock(mutex);
        std::vector<PSRow> rows;
        if (!unchecked.empty())
            rows = std::move(unchecked.front()), unchecked.pop_front();
        return rows;
    }
};

// What breaks the list's rules in what `monitor` published for `rows`: ids unique; cpu
// descending, ties by memory, shares that are not a number last; every row counted once; the
// entries' cpu adding up to the rows'; the total the machine's share of it, within 0 and 100.
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

TEST(LongRun, ChurnKeepsEveryRuleAndHoldsNothingMore)
{
    TempDir dir;
    useOwnSession(dir.path());
    const std::string folder = dir.makeFolder("churn");
    for (const char* name : {"a (b) c", "x) 1 2 (y", "))) R 1 2", "tab\tend)"})
        std::filesystem::copy_file("/bin/sleep", folder + "/" + name);
    std::atomic<pid_t> shell = -1;
    std::atomic<bool> execSeen = false;
    auto recorder = std::make_unique<Recorder>();
    Recorder& log = *recorder;
    log.seen = [&](const std::vector<PSRow>& rows) {
        for (const PSRow& row : rows)
            if (row.pid == shell && row.command.starts_with("/bin/bash -c sleep 2;"))
                execSeen = true;
    };
    Holdings baseline;
    Holdings most;
    int published = 0;
    int faulty = 0;
    std::function<bool(int)> done;
    QEventLoop loop;
    Monitor::Sources sources = Monitor::systemSources(makeDesktopApplications());
    sources.interval = 20ms;
    log.inner = std::move(sources.snapshot);
    sources.snapshot = std::move(recorder);
    Monitor monitor(std::move(sources));
    // apps first, then the total: by the list's signal both of one cycle are stored.
    QObject::connect(&monitor, &Monitor::appsChanged, [&] {
        ++published;
        if (const std::string found = problemsOf(monitor, log.next()); !found.empty())
            if (++faulty <= 20)
                ADD_FAILURE() << "publication " << published << ": " << found;
        if (published >= warmUp && published % 10 == 0) {
            const Holdings now = currentHoldings();
            if (published == warmUp)
                baseline = most = now;
            most.descriptors = std::max(most.descriptors, now.descriptors);
            most.threads = std::max(most.threads, now.threads);
        }
        if (done && done(published))
            loop.quit();
    });
    const auto runUntil = [&](std::function<bool(int)> until) {
        done = std::move(until);
        QTimer limit;
        QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
        limit.start(300s);
        if (!done(published))
            loop.exec();
        done = nullptr;
        return published;
    };
    ASSERT_EQ(runUntil([](int n) { return n >= warmUp; }), warmUp);

    const char* argv[] = {"/bin/bash", "-c", churn, "churn", folder.c_str(), churnSeconds, nullptr};
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, const_cast<char**>(argv), environ), 0);
    shell = pid;
    int status = -1;
    const int before = published;
    const int during =
        runUntil([&](int) { return ::waitpid(pid, &status, WNOHANG) == pid; }) - before;
    if (status == -1) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    EXPECT_EQ(status, 0) << "the churn did not end by itself";
    // Long enough for the sampler to forget every process of the churn.
    runUntil([&](int n) { return n >= before + during + warmUp; });
    const Holdings last = currentHoldings();
    std::printf("long run: %d publications during the churn\nlong run: after warm-up: %s\n"
                "long run: at most:       %s\nlong run: at the end:    %s\n",
                during, describe(baseline).c_str(), describe(most).c_str(), describe(last).c_str());

    EXPECT_GE(during, 5);
    EXPECT_TRUE(execSeen) << "the shell's last exec was never shown";
    EXPECT_EQ(faulty, 0);
    EXPECT_LE(most.descriptors, baseline.descriptors);
    EXPECT_LE(most.threads, baseline.threads);
    EXPECT_EQ(last.children, 0);
    EXPECT_LT(last.heapKB - baseline.heapKB, allowedGrowthKB);
    // A sanitizer's allocator keeps freed blocks back to catch late uses, so its resident size
    // says nothing about ours; the live heap above still does.
    EXPECT_LT(sanitizedAllocator() ? 0 : last.residentKB - baseline.residentKB,
              4 * allowedGrowthKB);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
