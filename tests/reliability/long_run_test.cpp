// The real monitor sampling every 20 ms while a shell forks a few hundred short-lived
// processes a second: some under names made to confuse a reader of /proc/<pid>/stat, some
// with a rewritten title, some exec'ing under the same pid, some left as zombies for a while;
// at the end the shell execs a shell, which /proc shows only by a new command line. Every
// publication keeps the list's rules, the last exec is seen, and afterwards the process holds
// no more descriptors, threads, children or memory than before.

#include "support/self_watch.h"
#include "support/temp_dir.h"
#include "watched_monitor.h"

#include <atomic>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <QCoreApplication>

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

TEST(LongRun, ChurnKeepsEveryRuleAndHoldsNothingMore)
{
    TempDir dir;
    useOwnSession(dir.path());
    const std::string folder = dir.makeFolder("churn");
    for (const char* name : {"a (b) c", "x) 1 2 (y", "))) R 1 2", "tab\tend)"})
        std::filesystem::copy_file("/bin/sleep", folder + "/" + name);
    std::atomic<pid_t> shell = -1;
    std::atomic<bool> execSeen = false;
    WatchedMonitor watched(20ms, [&](const std::vector<PSRow>& rows, auto) {
        for (const PSRow& row : rows)
            if (row.pid == shell && row.command.starts_with("/bin/bash -c sleep 2;"))
                execSeen = true;
    });
    Holdings baseline;
    Holdings most;
    watched.onPublication = [&](int n) {
        if (n < warmUp || n % 10 != 0)
            return;
        const Holdings now = currentHoldings();
        if (n == warmUp)
            baseline = most = now;
        most.descriptors = std::max(most.descriptors, now.descriptors);
        most.threads = std::max(most.threads, now.threads);
    };
    ASSERT_EQ(watched.runUntil([](int n) { return n >= warmUp; }, 300s), warmUp);

    const char* argv[] = {"/bin/bash", "-c", churn, "churn", folder.c_str(), churnSeconds, nullptr};
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, const_cast<char**>(argv), environ), 0);
    shell = pid;
    int status = -1;
    const int before = watched.published();
    watched.runUntil([&](int) { return ::waitpid(pid, &status, WNOHANG) == pid; }, 300s);
    const int during = watched.published() - before;
    if (status == -1) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    EXPECT_EQ(status, 0) << "the churn did not end by itself";
    // Long enough for the sampler to forget every process of the churn.
    watched.runUntil([&](int n) { return n >= before + during + warmUp; }, 300s);
    const Holdings last = currentHoldings();
    std::printf("long run: %d publications during the churn\nlong run: after warm-up: %s\n"
                "long run: at most:       %s\nlong run: at the end:    %s\n",
                during, describe(baseline).c_str(), describe(most).c_str(), describe(last).c_str());

    EXPECT_GE(during, 5);
    EXPECT_TRUE(execSeen) << "the shell's last exec was never shown";
    EXPECT_EQ(watched.faultyPublications(), 0);
    for (const std::string& problem : watched.problems())
        ADD_FAILURE() << problem;
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
