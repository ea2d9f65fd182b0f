// The snapshot against the real process-status tool, and against stand-in tools that misbehave.

#include "snapshot.h"
#include "support/temp_dir.h"
#include "tool_runner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using namespace corvel;
using namespace std::chrono_literals;
using corvel::testing::TempDir;

namespace {

// Run with this flag, the test program is a stand-in tool that lists its open descriptors.
constexpr const char* listFdsFlag = "--list-open-descriptors";

int listOpenDescriptors()
{
    DIR* dir = ::opendir("/proc/self/fd");
    if (!dir)
        return 1;
    std::vector<int> fds;
    while (const dirent* entry = ::readdir(dir)) {
        const int fd = std::atoi(entry->d_name);
        if (entry->d_name[0] != '.' && fd != ::dirfd(dir))
            fds.push_back(fd);
    }
    ::closedir(dir);
    std::sort(fds.begin(), fds.end());
    for (const int fd : fds)
        std::printf("%d ", fd);
    return 0;
}

// Children of this process that are zombies: none may be left behind by a snapshot.
int zombieChildren()
{
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename();
        if (!std::all_of(name.begin(), name.end(), ::isdigit))
            continue;
        FILE* f = std::fopen((entry.path() / "stat").c_str(), "r");
        if (!f)
            continue;
        char buffer[512] = {};
        const size_t n = std::fread(buffer, 1, sizeof buffer - 1, f);
        std::fclose(f);
        const std::string stat(buffer, n);
        const auto close = stat.rfind(')');
        if (close == std::string::npos)
            continue;
        char state = 0;
        int ppid = 0;
        if (std::sscanf(stat.c_str() + close + 1, " %c %d", &state, &ppid) == 2 &&
            state == 'Z' && ppid == getpid())
            ++count;
    }
    return count;
}

TEST(RealTool, ListsThisProcessAndAChildWithItsExactCommandLine)
{
    const char* argv[] = {"/bin/sleep", "30", nullptr};
    pid_t child = -1;
    ASSERT_EQ(posix_spawn(&child, "/bin/sleep", nullptr, nullptr, const_cast<char**>(argv),
                          environ),
              0);
    // A command line with runs of spaces inside an argument, through a shell-free exec.
    const char* spaced[] = {"/bin/sleep", "30", "  0", nullptr};
    pid_t spacedChild = -1;
    ASSERT_EQ(posix_spawn(&spacedChild, "/bin/sleep", nullptr, nullptr,
                          const_cast<char**>(spaced), environ),
              0);
    const auto rows = runPS();
    const bool gone = !std::filesystem::exists("/proc/" + std::to_string(child));
    kill(child, SIGKILL);
    kill(spacedChild, SIGKILL);
    waitpid(child, nullptr, 0);
    waitpid(spacedChild, nullptr, 0);
    ASSERT_FALSE(gone);

    ASSERT_GT(rows.size(), 3u);
    const auto find = [&](pid_t pid) {
        return std::find_if(rows.begin(), rows.end(),
                            [&](const PSRow& row) { return row.pid == pid; });
    };
    const auto self = find(getpid());
    ASSERT_NE(self, rows.end());
    EXPECT_EQ(self->ppid, getppid());
    EXPECT_GT(self->rssKB, 0);
    const auto sleeper = find(child);
    ASSERT_NE(sleeper, rows.end());
    EXPECT_EQ(sleeper->command, "/bin/sleep 30");
    EXPECT_EQ(sleeper->ppid, getpid());
    const auto spacedRow = find(spacedChild);
    ASSERT_NE(spacedRow, rows.end());
    EXPECT_EQ(spacedRow->command, "/bin/sleep 30   0");
    // Every row is a real process: alive now, or one of the few that exited since (the tool
    // itself, and whatever else this busy machine ran in that moment).
    std::size_t vanished = 0;
    for (const PSRow& row : rows) {
        EXPECT_GT(row.pid, 0);
        if (row.pid != child && row.pid != spacedChild &&
            !std::filesystem::exists("/proc/" + std::to_string(row.pid)))
            ++vanished;
    }
    EXPECT_LT(vanished * 5, rows.size()) << vanished << " of " << rows.size() << " rows vanished";
    EXPECT_EQ(zombieChildren(), 0);
}

struct StandIn
{
    const char* name;
    const char* script;
    std::size_t rows;
};

class MisbehavingTool : public ::testing::TestWithParam<StandIn>
{
};

TEST_P(MisbehavingTool, EndsInBoundedTimeWithWhatCouldBeParsed)
{
    TempDir dir;
    const auto tool = dir.writeScript("ps", GetParam().script);
    ToolLimits limits;
    limits.timeout = 1500ms;
    limits.maxOutputBytes = 1u << 20;
    const auto started = std::chrono::steady_clock::now();
    const auto rows = runPS(tool.c_str(), limits);
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(rows.size(), GetParam().rows);
    // Generous: the bound is 1.5 s, and this only guards against waiting forever.
    EXPECT_LT(took, 20s);
    EXPECT_EQ(zombieChildren(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    StandIns, MisbehavingTool,
    ::testing::Values(
        StandIn{"ExitsNonZeroAfterOutput", "#!/bin/sh\necho '1 0 0.0 4 init'\necho oops >&2\nexit 3\n", 1},
        StandIn{"WritesGarbage", "#!/bin/sh\nprintf 'garbage\\n\\0\\0\\n1 0 0.0 4 ok\\n'\n", 1},
        StandIn{"NoFinalLineFeed", "#!/bin/sh\nprintf '1 0 0.0 4 a\\n2 1 0.0 4 b'\n", 2},
        StandIn{"InvalidUtf8", "#!/bin/sh\nprintf '1 0 0.0 4 \\377\\376\\n'\n", 1},
        StandIn{"Hangs", "#!/bin/sh\necho '1 0 0.0 4 a'\nexec sleep 60\n", 1},
        StandIn{"ClosesOutputAndKeepsRunning",
                "#!/bin/sh\necho '1 0 0.0 4 a'\nexec >&-\nexec sleep 60\n", 1},
        StandIn{"HangsInAGrandchild", "#!/bin/sh\necho '1 0 0.0 4 a'\nsleep 60 &\nsleep 60\n", 1},
        StandIn{"Floods", "#!/bin/sh\nexec yes '1 0 0.0 4 flood'\n", (1u << 20) / 16},
        StandIn{"DiesBySignal", "#!/bin/sh\necho '1 0 0.0 4 a'\nkill -9 $$\n", 1}),
    [](const ::testing::TestParamInfo<StandIn>& standIn) {
        return std::string(standIn.param.name);
    });

TEST(ToolLaunch, MissingOrNotExecutableGivesAnEmptyList)
{
    TempDir dir;
    EXPECT_TRUE(runPS((dir.path() / "absent").c_str(), ToolLimits{}).empty());
    const auto plain = dir.write("not-executable", "#!/bin/sh\necho '1 0 0.0 4 a'\n");
    EXPECT_TRUE(runPS(plain.c_str(), ToolLimits{}).empty());
    EXPECT_EQ(zombieChildren(), 0);
}

// The child sees only the standard descriptors, whatever this process has open.
TEST(ToolLaunch, ChildInheritsNoDescriptorOfOurs)
{
    const int leaky = ::open("/proc/self/stat", O_RDONLY); // no close-on-exec on purpose
    ASSERT_GE(leaky, 0);
    const std::string self = std::filesystem::read_symlink("/proc/self/exe");
    const std::string output = captureOutput(self.c_str(), {self, listFdsFlag}, ToolLimits{});
    ::close(leaky);
    EXPECT_EQ(output, "0 1 2 ");
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::string_view(argv[1]) == listFdsFlag)
        return listOpenDescriptors();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
