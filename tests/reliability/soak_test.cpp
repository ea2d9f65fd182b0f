// Three thousand cycles of the real monitor on the real sources, 20 ms apart: every
// publication keeps the list's rules, and once warmed up the process holds no more
// descriptors, threads, children or resident memory than it did.

#include "cycle_stats.h"
#include "self_watch.h"
#include "support/temp_dir.h"
#include "watched_monitor.h"

#include <algorithm>
#include <cstdio>
#include <gtest/gtest.h>

#include <QCoreApplication>

using namespace corvel;
using namespace corvel::testing;
using namespace std::chrono_literals;

namespace {

constexpr int cycles = 3000;
constexpr int warmUp = 500;
constexpr int censusEvery = 10;
constexpr std::int64_t allowedGrowthKB = 1024;

std::string joined(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text;
}

TEST(Soak, ThreeThousandCyclesKeepEveryRuleAndHoldNothingMore)
{
    TempDir dir;
    useOwnSession(dir.path());
    WatchedMonitor watched(20ms);

    Holdings baseline;
    Holdings most;
    Holdings last;
    int zombiesSeen = 0;
    std::string residentTrace;
    watched.onPublication = [&](int n) {
        if (n < warmUp || n % censusEvery != 0)
            return;
        last = currentHoldings();
        zombiesSeen += last.zombieChildren;
        if (n == warmUp) {
            baseline = most = last;
        }
        most.descriptors = std::max(most.descriptors, last.descriptors);
        most.threads = std::max(most.threads, last.threads);
        most.children = std::max(most.children, last.children);
        most.residentKB = std::max(most.residentKB, last.residentKB);
        most.heapKB = std::max(most.heapKB, last.heapKB);
        if (n % 250 == 0)
            residentTrace +=
                " " + std::to_string(last.residentKB) + "/" + std::to_string(last.heapKB);
    };
    const auto started = std::chrono::steady_clock::now();
    const int published = watched.runUntil([](int n) { return n >= cycles; }, 20min);
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    const CycleStats stats = cycleStats(watched.log().workSeconds());
    std::printf("soak: %d publications in %.1f s\n"
                "soak: after warm-up: %s\n"
                "soak: at most:       %s\n"
                "soak: at the end:    %s\n"
                "soak: resident/heap KiB every 250 cycles:%s\n"
                "soak: work per cycle: %s\n",
                published, wall, describe(baseline).c_str(), describe(most).c_str(),
                describe(last).c_str(), residentTrace.c_str(), describe(stats).c_str());

    ASSERT_EQ(published, cycles);
    EXPECT_EQ(watched.faultyPublications(), 0) << joined(watched.problems());
    EXPECT_LE(most.descriptors, baseline.descriptors);
    EXPECT_LE(most.threads, baseline.threads);
    EXPECT_LE(most.children, baseline.children);
    EXPECT_EQ(zombiesSeen, 0);
    EXPECT_LT(last.heapKB - baseline.heapKB, allowedGrowthKB);
    // A sanitizer's allocator keeps freed blocks back to catch late uses, so its resident size
    // says nothing about ours; the live heap above still does.
    if (!sanitizedAllocator()) {
        EXPECT_LT(last.residentKB - baseline.residentKB, allowedGrowthKB);
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
