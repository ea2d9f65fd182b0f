// The snapshot against the real process-status tool, and against stand-in tools that misbehave.

#include "snapshot.h"
#include "support/self_watch.h"
#include "support/temp_dir.h"
#include "tool_runner.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

using namespace corvel;
using namespace corvel::testing;
using namespace std::chrono_literals;

namespace {

pid_t spawn(std::vector<const char*> argv)
{
    argv.push_back(nullptr);
    pid_t pid = -1;
    posix_spawn(&pid, argv[0], nullptr, nullptr, const_cast<char**>(argv.data()), environ);
    return pid;
}

TEST(RealTool, ListsThisProcessAndChildrenWithTheirExactCommandLines)
{
    const pid_t plain = spawn({"/bin/sleep", "30"});
    const pid_t spaced = spawn({"/bin/sleep", "30", "  0"}); // spaces inside an argument
    const auto rows = runPS();
    for (const pid_t pid : {plain, spaced}) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    const auto find = [&](pid_t pid) {
        const auto it =
            std::find_if(rows.begin(), rows.end(), [&](auto& r) { return r.pid == pid; });
        return it == rows.end() ? PSRow{0, 0, 0, 0, "missing"} : *it;
    };
    EXPECT_EQ(find(::getpid()).ppid, ::getppid());
    EXPECT_GT(find(::getpid()).rssKB, 0);
    EXPECT_EQ(find(plain).command, "/bin/sleep 30");
    EXPECT_EQ(find(plain).ppid, ::getpid());
    EXPECT_EQ(find(spaced).command, "/bin/sleep 30   0");
    EXPECT_EQ(currentHoldings().zombieChildren, 0);
}

struct StandIn
{
    const char* name;
    const char* script; // null: no file at all
    std::size_t rows;
    bool executable = true;
    std::chrono::milliseconds timeout = 1500ms; // long where another bound must end the run
};

class MisbehavingTool : public ::testing::TestWithParam<StandIn>
{
};

// A grandchild a script leaves behind writes its pid to a file "grandchild" beside it; it
// must end with the tool.
TEST_P(MisbehavingTool, EndsInBoundedTimeWithWhatCouldBeParsed)
{
    TempDir dir;
    const StandIn& tool = GetParam();
    if (tool.script)
        tool.executable ? dir.writeScript("ps", tool.script) : dir.write("ps", tool.script);
    ToolLimits limits;
    limits.timeout = tool.timeout;
    limits.maxOutputBytes = 1u << 20;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(runPS(dir.path("ps").c_str(), limits).size(), tool.rows);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 20s); // only against a hang
    EXPECT_EQ(currentHoldings().zombieChildren, 0);
    pid_t grandchild = 0;
    if (std::ifstream(dir.path("grandchild")) >> grandchild) {
        const auto gone = [&] {
            const std::string stat = statAfterName(grandchild);
            return stat.size() < 2 || stat[1] == 'Z';
        };
        for (int i = 0; i < 100 && !gone(); ++i)
            std::this_thread::sleep_for(50ms);
        EXPECT_TRUE(gone()) << "the grandchild still runs";
        ::kill(grandchild, SIGKILL);
    }
}

#define ROW "echo '1 0 0.0 4 a'\n"
#define GRANDCHILD "sleep 60 &\necho $! > \"${0%/*}/grandchild\"\n"
INSTANTIATE_TEST_SUITE_P(
    StandIns, MisbehavingTool,
    ::testing::Values(
        StandIn{"Missing", nullptr, 0}, StandIn{"NotExecutable", "#!/bin/sh\n" ROW, 0, false},
        StandIn{"ExitsNonZeroAfterOutput", "#!/bin/sh\n" ROW "echo oops >&2\nexit 3\n", 1},
        StandIn{"WritesGarbage", "#!/bin/sh\nprintf 'garbage\\n\\0\\0\\n1 0 0.0 4 ok\\n'\n", 1},
        StandIn{"NoFinalLineFeed", "#!/bin/sh\nprintf '1 0 0.0 4 a\\n2 1 0.0 4 b'\n", 2},
        StandIn{"Hangs", "#!/bin/sh\n" ROW "exec sleep 60\n", 1},
        StandIn{"ClosesOutputAndKeepsRunning", "#!/bin/sh\n" ROW "exec >&-\nexec sleep 60\n", 1},
        StandIn{"HangsInAGrandchild", "#!/bin/sh\n" ROW GRANDCHILD "sleep 60\n", 1},
        StandIn{"ExitsLeavingAGrandchildOnThePipe", "#!/bin/sh\n" ROW GRANDCHILD "exit 0\n", 1},
        StandIn{"StopsItself", "#!/bin/sh\n" ROW "kill -STOP $$\n", 1},
        StandIn{"DiesBySignal", "#!/bin/sh\n" ROW "kill -9 $$\n", 1},
        StandIn{"Floods", "#!/bin/sh\nexec yes '1 0 0.0 4 flood'\n", (1u << 20) / 16, true, 60s},
        StandIn{"OneEndlessLine", "#!/bin/sh\nprintf '1 0 0.0 4 '\nexec cat /dev/zero\n", 1}),
    [](const auto& standIn) { return std::string(standIn.param.name); });

// The child sees only the standard descriptors, whatever this process has open.
TEST(ToolLaunch, ChildInheritsNoDescriptorOfOurs)
{
    const int leaky = ::open("/proc/self/stat", O_RDONLY); // no close-on-exec on purpose
    ASSERT_GE(leaky, 0);
    // 3 is the one ls lists them with.
    EXPECT_EQ(captureOutput("/bin/ls", {"ls", "/proc/self/fd"}, ToolLimits{}), "0\n1\n2\n3\n");
    ::close(leaky);
}

} // namespace
