// Stand-in process-status tools that misbehave in ways the basic cases do not cover: a flood
// of gigabytes against the real bounds (memory must stay bounded too), a tool that exits but
// leaves a grandchild holding the pipe, one that stops itself, and one endless line.

#include "self_watch.h"
#include "snapshot.h"
#include "support/temp_dir.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <thread>

using namespace corvel;
using namespace corvel::testing;
using namespace std::chrono_literals;

namespace {

// The peak resident size is reset here and read, in KiB, below.
void resetPeakResident()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

std::int64_t peakResidentKB()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stoll(line.substr(6));
    }
    return -1;
}

// A process is gone once it is reaped, or a zombie waiting for a reaper that is not us.
bool goneOrZombie(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    const auto close = text.rfind(')');
    return text.empty() || (close != std::string::npos && text.substr(close + 2, 1) == "Z");
}

struct ToolRun
{
    std::vector<PSRow> rows;
    double seconds;
};

ToolRun run(const std::filesystem::path& tool, const ToolLimits& limits)
{
    const auto started = std::chrono::steady_clock::now();
    ToolRun r;
    r.rows = runPS(tool.c_str(), limits);
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return r;
}

// With the real bounds, a tool that would write without end is cut off at the output bound;
// what is kept is a small multiple of that bound, not of what the tool writes.
TEST(ToolFlood, GigabytesAgainstTheRealBoundsKeepMemoryBounded)
{
    TempDir dir;
    const auto tool = dir.writeScript("ps", "#!/bin/sh\nexec yes '1 0 0.0 4 flood'\n");
    ToolLimits limits; // the bounds every real run has
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // Sanitizers slow the reading tenfold and hold freed blocks back, so they get a smaller
    // bound, and only a plain build measures the memory.
    limits.maxOutputBytes = 8u << 20;
    constexpr bool measured = false;
#else
    constexpr bool measured = true;
#endif
    const std::int64_t before = currentHoldings().residentKB;
    resetPeakResident();
    const ToolRun r = run(tool, limits);
    const std::int64_t peak = peakResidentKB();
    const auto boundKB = static_cast<std::int64_t>(limits.maxOutputBytes / 1024);
    std::printf("flood: %zu rows in %.1f s; peak resident %lld KiB above the %lld KiB before, "
                "for an output bound of %lld KiB\n",
                r.rows.size(), r.seconds, static_cast<long long>(peak - before),
                static_cast<long long>(before), static_cast<long long>(boundKB));
    // The output bound ends the run, or on a slow machine the time bound does.
    EXPECT_LE(r.rows.size(), limits.maxOutputBytes / 16);
    EXPECT_GT(r.rows.size(), 0u);
    EXPECT_LT(r.seconds, 120.0); // a guard against waiting forever, not a speed check
    if (measured) {
        EXPECT_LT(peak - before, 8 * boundKB);
    }
    EXPECT_EQ(currentHoldings().zombieChildren, 0);
}

TEST(ToolFlood, OneEndlessLineEndsAtTheBound)
{
    TempDir dir;
    const auto tool = dir.writeScript("ps", "#!/bin/sh\nprintf '1 0 0.0 4 '\nexec cat /dev/zero\n");
    ToolLimits limits;
    limits.maxOutputBytes = 8u << 20;
    const ToolRun r = run(tool, limits);
    EXPECT_LE(r.rows.size(), 1u);
    EXPECT_LT(r.seconds, 60.0);
    EXPECT_EQ(currentHoldings().zombieChildren, 0);
}

TEST(ToolFlood, AGrandchildHoldingThePipeIsEndedWithTheTool)
{
    TempDir dir;
    const auto pidFile = dir.path() / "grandchild";
    const auto tool =
        dir.writeScript("ps", "#!/bin/sh\necho '1 0 0.0 4 a'\nsleep 60 &\necho $! > '" +
                                  pidFile.string() + "'\nexit 0\n");
    ToolLimits limits;
    limits.timeout = 1500ms;
    const ToolRun r = run(tool, limits);
    EXPECT_EQ(r.rows.size(), 1u);
    EXPECT_LT(r.seconds, 60.0);
    EXPECT_EQ(currentHoldings().zombieChildren, 0);
    pid_t grandchild = 0;
    std::ifstream(pidFile) >> grandchild;
    ASSERT_GT(grandchild, 0);
    for (int i = 0; i < 100 && !goneOrZombie(grandchild); ++i)
        std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(goneOrZombie(grandchild)) << "the grandchild " << grandchild << " still runs";
    ::kill(grandchild, SIGKILL);
}

TEST(ToolFlood, AToolThatStopsItselfIsEnded)
{
    TempDir dir;
    const auto tool = dir.writeScript("ps", "#!/bin/sh\necho '1 0 0.0 4 a'\nkill -STOP $$\n");
    ToolLimits limits;
    limits.timeout = 1500ms;
    const ToolRun r = run(tool, limits);
    EXPECT_EQ(r.rows.size(), 1u);
    EXPECT_LT(r.seconds, 60.0);
    EXPECT_EQ(currentHoldings().zombieChildren, 0);
}

} // namespace
