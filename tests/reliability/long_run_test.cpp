// The real monitor sampling every 20 ms while a shell forks a few hundred short-lived
// processes a second: some under names made to confuse a reader of /proc/<pid>/stat, some
// with a rewritten title, some exec'ing under the same pid, some left as zombies for a while.
// Every publication keeps the list's rules, and afterwards the process holds no more
// descriptors, threads, children or memory than before.

#include "support/self_watch.h"
#include "support/temp_dir.h"
#include "watched_monitor.h"

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
constexpr int warmUp = 100;                   // publications before the baseline is taken
constexpr std::int64_t allowedGrowthKB = 512; // of the live heap, and of the resident size

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
wait)";

TEST(LongRun, ChurnKeepsEveryRuleAndHoldsNothingMore)
{
    TempDir dir;
    useOwnSession(dir.path());
    const std::string folder = dir.makeFolder("churn");
    for (const char* name : {"a (b) c", "x) 1 2 (y", "))) R 1 2", "tab\tend)"})
        std::filesystem::copy_file("/bin/sleep", folder + "/" + name);
    WatchedMonitor watched(20ms);
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
    pid_t shell = -1;
    ASSERT_EQ(posix_spawn(&shell, argv[0], nullptr, nullptr, const_cast<char**>(argv), environ), 0);
    int status = -1;
    const int before = watched.published();
    watched.runUntil([&](int) { return ::waitpid(shell, &status, WNOHANG) == shell; }, 300s);
    const int during = watched.published() - before;
    if (status == -1) {
        ::kill(shell, SIGKILL);
        ::waitpid(shell, &status, 0);
    }
    EXPECT_EQ(status, 0) << "the churn did not end by itself";
    // Long enough for the sampler to forget every process of the churn.
    watched.runUntil([&](int n) { return n >= before + during + warmUp; }, 300s);
    const Holdings last = currentHoldings();
    std::printf("long run: %d publications during the churn\nlong run: after warm-up: %s\n"
                "long run: at most:       %s\nlong run: at the end:    %s\n",
                during, describe(baseline).c_str(), describe(most).c_str(), describe(last).c_str());

    EXPECT_GE(during, 20);
    EXPECT_EQ(watched.faultyPublications(), 0);
    for (const std::string& problem : watched.problems())
        ADD_FAILURE() << problem;
    EXPECT_LE(most.descriptors, baseline.descriptors);
    EXPECT_LE(most.threads, baseline.threads);
    EXPECT_EQ(last.children, 0);
    EXPECT_LT(last.heapKB - baseline.heapKB, allowedGrowthKB);
    // A sanitizer's allocator keeps freed blocks back to catch late uses, so its resident size
    // says nothing about ours; the live heap above still does.
    EXPECT_LT(sanitizedAllocator() ? 0 : last.residentKB - baseline.residentKB, allowedGrowthKB);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
