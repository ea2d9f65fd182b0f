// The sampler on this machine's /proc and cgroups, against children of the test, against a
// full scan and against what /bin/ps prints for them.

#include "proc_sampler.h"
#include "support/temp_dir.h"
#include "support/test_cgroup.h"
#include "system_snapshot.h"
#include "tool_runner.h"

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sched.h>
#include <sstream>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace corvel;
using namespace corvel::testing;
using namespace std::chrono_literals;

namespace {

// Children killed and reaped with the test, and by the kernel should the test die first.
struct Children : std::vector<pid_t>
{
    ~Children()
    {
        for (const pid_t pid : *this)
            ::kill(pid, SIGKILL), ::waitpid(pid, nullptr, 0);
    }
    // /bin/sh -c `script` in a session of its own, reading `input`; `script` null: a zombie.
    pid_t start(const char* script, int input = -1)
    {
        const pid_t parent = ::getpid(), pid = ::fork();
        if (pid == 0 && !script)
            ::_exit(0);
        if (pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() == parent && ::setsid() > 0 && (input < 0 || ::dup2(input, 0) == 0))
                ::execl("/bin/sh", "sh", "-c", script, nullptr);
            ::_exit(127);
        }
        siginfo_t info{};
        if (!script)
            ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT);
        push_back(pid);
        return pid;
    }
};

const PSRow* find(const std::vector<PSRow>& rows, pid_t pid)
{
    for (const PSRow& row : rows)
        if (row.pid == pid)
            return &row;
    return nullptr;
}

void expectAgreesWithPs(const PSRow* row)
{
    ASSERT_TRUE(row);
    std::istringstream in(captureOutput(
        "/bin/ps", {"/bin/ps", "-o", "pid=,ppid=,rss=,command=", "-p", std::to_string(row->pid)},
        ToolLimits{}));
    long pid = 0, ppid = 0, rss = 0;
    std::string command;
    in >> pid >> ppid >> rss >> std::ws;
    std::getline(in, command);
    EXPECT_EQ(row->pid, pid);
    EXPECT_EQ(row->ppid, ppid);
    EXPECT_NEAR(row->rssKB, rss, std::max(64.0, 0.05 * static_cast<double>(rss)));
    EXPECT_EQ(row->command, command);
}

std::string commOf(pid_t pid)
{
    std::string comm;
    std::getline(std::ifstream("/proc/" + std::to_string(pid) + "/comm"), comm);
    return comm;
}

// Real cgroups: a busy child in one, idle ones in another with a shell that forks and execs.
// The pruned sampler skips the idle ones, yet shows what a full scan and ps show.
TEST(ProcSamplerLive, RealCgroupsAgreeWithAFullScanAndPs)
{
    ASSERT_NE(dynamic_cast<ProcSampler*>(makeSystemSnapshotter().get()), nullptr);
    const TestCgroup busyGroup("busy"), idleGroup("idle");
    if (busyGroup.path().empty() || idleGroup.path().empty())
        GTEST_SKIP() << busyGroup.why() << idleGroup.why();
    Children children;
    int pipeFds[2];
    ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
    const pid_t burner = children.start("while :; do :; done");
    const pid_t execer = children.start("read l; /bin/sleep 31 & exec /bin/sleep 32", pipeFds[0]);
    ::close(pipeFds[0]);
    const pid_t zombie = children.start(nullptr);
    std::vector<pid_t> idle; // programs of their own: forks of a sanitized test are not idle
    for (int i = 0; i < 30; ++i)
        idle.push_back(children.start("exec /bin/sleep 999"));
    ASSERT_TRUE(busyGroup.add(burner));
    for (const pid_t pid : idle)
        ASSERT_TRUE(idleGroup.add(pid));
    ASSERT_TRUE(idleGroup.add(execer));
    // On a loaded machine the spinner gets a processor only if it comes first.
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(burner), -10);
    std::ofstream("/proc/" + std::to_string(burner) + "/autogroup") << "-10";

    // Settled once the idle cgroup's usage stands still (slow under sanitizers).
    const auto usage = [&] {
        std::stringstream text;
        text << std::ifstream(idleGroup.path() + "/cpu.stat").rdbuf();
        return text.str();
    };
    std::string last;
    for (int tries = 0; tries < 30 && last != usage(); ++tries) {
        last = usage();
        std::this_thread::sleep_for(300ms);
    }
    ProcSamplerOptions scan;
    scan.cgroupRoot = "";
    ProcSampler pruned, full(scan);
    double best = 0;
    for (int cycle = 0; cycle < 2 || (cycle < 6 && best <= 60); ++cycle) {
        std::this_thread::sleep_for(cycle ? 500ms : 0ms);
        const auto rows = pruned.take();
        const auto expected = full.take();
        for (const pid_t pid : idle) {
            const PSRow *a = find(rows, pid), *b = find(expected, pid);
            ASSERT_TRUE(a && b);
            EXPECT_EQ(a->cpu, 0.0);
            EXPECT_EQ(a->command, b->command);
            EXPECT_NEAR(a->rssKB, b->rssKB, 64);
        }
        ASSERT_TRUE(find(rows, burner));
        best = std::max(best, find(rows, burner)->cpu);
        if (cycle > 0) { // the first take saw them settle into their cgroup
            EXPECT_GE(pruned.unread(), idle.size());
            EXPECT_EQ(full.unread(), 0u);
        }
        if (cycle == 0) {
            expectAgreesWithPs(find(rows, idle[0]));
            expectAgreesWithPs(find(rows, zombie));
            EXPECT_EQ(find(rows, execer)->command,
                      "sh -c read l; /bin/sleep 31 & exec /bin/sleep 32");
        }
    }
    EXPECT_GT(best, 60.0) << "a child spinning on one processor";
    EXPECT_LT(best, 115.0) << "one thread: one processor, give or take a tick";

    // A birth and an exec in the idle cgroup, and the spinner stopped: seen at the next take.
    ASSERT_EQ(::write(pipeFds[1], "\n", 1), 1);
    ::close(pipeFds[1]);
    for (int i = 0; i < 500 && commOf(execer) != "sleep"; ++i)
        std::this_thread::sleep_for(10ms);
    ::kill(burner, SIGSTOP);
    ::waitpid(burner, nullptr, WUNTRACED);
    pruned.take();
    std::this_thread::sleep_for(300ms);
    const auto rows = pruned.take();
    EXPECT_EQ(find(rows, execer)->command, "/bin/sleep 32");
    int born = 0;
    for (const PSRow& row : rows)
        born += row.ppid == execer && row.command == "/bin/sleep 31";
    EXPECT_EQ(born, 1);
    EXPECT_LT(find(rows, burner)->cpu, 5.0);
}

// With /proc mounted hidepid=2 (in a mount namespace of its own) a user sees only its own
// processes; the machine share then comes from /proc/stat and shows root's busy child.
TEST(ProcSamplerLive, HiddenProcessesStillCountInTheMachineShare)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to mount /proc and change user";
    Children children;
    const pid_t burner = children.start("while :; do :; done");
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(burner), -10);
    TempDir dir;
    const pid_t checker = ::fork();
    if (checker == 0) {
        const std::string root = dir.path().string();
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) ||
            ::mount("proc", root.c_str(), "proc", 0, "hidepid=2") != 0)
            ::_exit(77);
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(77);
        ProcSamplerOptions options;
        options.root = root;
        ProcSampler sampler(options);
        const auto rows = sampler.take();
        const bool burnerHidden = !find(rows, burner);
        const double share = sampler.machineShare().value_or(-1);
        ::_exit(burnerHidden && share >= 25 ? 0 : 1 + (share < 0));
    }
    int status = 0;
    ASSERT_EQ(::waitpid(checker, &status, 0), checker);
    if (WEXITSTATUS(status) == 77)
        GTEST_SKIP() << "cannot mount a private /proc here";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: share too low or burner seen, 2: no share";
}

} // namespace
