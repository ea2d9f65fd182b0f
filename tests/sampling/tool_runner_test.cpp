// The snapshot against the real process-status tool, and against stand-in tools that misbehave.

#include "snapshot.h"
#include "support/self_watch.h"
#include "support/temp_dir.h"
#include "tool_runner.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

using namespace corvel;
using namespace corvel::testing;
using namespace std::chrono_literals;

namespace {

TEST(RealTool, ListsThisProcessAndChildrenWithTheirExactCommandLines)
{
    const char* const plainArgs[] = {"/bin/sleep", "30", nullptr};
    const char* const spacedArgs[] = {"/bin/sleep", "30", "  0", nullptr}; // spaces in one
    pid_t plain = -1, spaced = -1;
    posix_spawn(&plain, plainArgs[0], nullptr, nullptr, const_cast<char**>(plainArgs), environ);
    posix_spawn(&spaced, spacedArgs[0], nullptr, nullptr, const_cast<char**>(spacedArgs), environ);
    std::map<std::int32_t, PSRow> rows;
    for (PSRow& row : runPS())
        rows.emplace(row.pid, std::move(row));
    for (const pid_t pid : {plain, spaced})
        ::kill(pid, SIGKILL), ::waitpid(pid, nullptr, 0);
    EXPECT_EQ(rows[::getpid()].ppid, ::getppid());
    EXPECT_GT(rows[::getpid()].rssKB, 0);
    EXPECT_EQ(rows[plain].command, "/bin/sleep 30");
    EXPECT_EQ(rows[plain].ppid, ::getpid());
    EXPECT_EQ(rows[spaced].command, "/bin/sleep 30   0");
}

// Each run ends in bounded time with what could be parsed and leaves no child behind. A
// grandchild a script leaves writes its pid to "<script>.pid" and must end with the tool. Runs
// that only the size bound may end get a long time-out.
TEST(MisbehavingTool, EndsInBoundedTimeWithWhatCouldBeParsed)
{
#define ROW "#!/bin/sh\necho '1 0 0.0 4 a'\n"
#define GRANDCHILD "sleep 60 &\necho $! > \"$0.pid\"\n"
    // clang-format off
    const std::tuple<const char*, const char*, std::size_t, bool> tools[] = {
        {"NotExecutable", ROW, 0, false}, {"ExitsNonZero", ROW "echo oops >&2\nexit 3\n", 1, false},
        {"WritesGarbage", "#!/bin/sh\nprintf 'garbage\\n\\0\\0\\n1 0 0.0 4 ok\\n'\n", 1, false},
        {"NoFinalLineFeed", "#!/bin/sh\nprintf '1 0 0.0 4 a\\n2 1 0.0 4 b'\n", 2, false},
        {"Hangs", ROW "exec sleep 60\n", 1, false}, {"DiesBySignal", ROW "kill -9 $$\n", 1, false},
        {"ClosesOutputAndKeepsRunning", ROW "exec >&-\nexec sleep 60\n", 1, false},
        {"HangsInAGrandchild", ROW GRANDCHILD "sleep 60\n", 1, false},
        {"ExitsLeavingAGrandchildOnThePipe", ROW GRANDCHILD "exit 0\n", 1, false},
        {"StopsItself", ROW "kill -STOP $$\n", 1, false},
        {"Floods", "#!/bin/sh\nexec yes '1 0 0.0 4 flood'\n", (1u << 20) / 16, true},
        {"OneEndlessLine", "#!/bin/sh\nprintf '1 0 0.0 4 '\nexec cat /dev/zero\n", 1, true}};
    // clang-format on
    TempDir dir;
    EXPECT_TRUE(runPS(dir.path("missing").c_str(), {}).empty());
    for (const auto& [name, script, rows, sizeBound] : tools) {
        rows ? dir.writeScript(name, script) : dir.write(name, script);
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(runPS(dir.path(name).c_str(), {sizeBound ? 60s : 1500ms, 1u << 20}).size(), rows)
            << name;
        EXPECT_LT(std::chrono::steady_clock::now() - started, 20s) << name; // against a hang
        EXPECT_EQ(currentHoldings().children, 0) << name;
        pid_t grandchild = 0;
        if (std::ifstream(dir.path(std::string(name) + ".pid")) >> grandchild) {
            const auto gone = [&] { // or a zombie
                const std::string stat = statAfterName(grandchild);
                return stat.size() < 2 || stat[1] == 'Z';
            };
            for (int i = 0; i < 100 && !gone(); ++i)
                std::this_thread::sleep_for(50ms);
            EXPECT_TRUE(gone()) << name << ": the grandchild still runs";
            ::kill(grandchild, SIGKILL);
        }
    }
}

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
