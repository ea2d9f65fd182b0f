// The sampler on this machine's /proc and cgroups, against children of the test, against a
// full scan and against what /bin/ps prints for them.

#include "proc_sampler.h"
#include "ps_tool.h"
#include "support/idle_children.h"
#include "support/require.h"
#include "support/temp_dir.h"
#include "support/test_cgroup.h"
#include "system_snapshot.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <thread>

using namespace corvel;
using namespace corvel::testing;
using namespace std::chrono_literals;

namespace {

const PSRow* find(const std::vector<PSRow>& rows, pid_t pid)
{
    const auto it = std::find_if(rows.begin(), rows.end(), [&](auto& r) { return r.pid == pid; });
    return it == rows.end() ? nullptr : &*it;
}

void expectAgreesWithPs(const PSRow* row)
{
    ASSERT_TRUE(row);
    std::istringstream in(captureOutput(
        "/bin/ps", {"/bin/ps", "-o", "pid=,ppid=,rss=,command=", "-p", std::to_string(row->pid)},
        ToolLimits{}));
    long pid = 0, ppid = 0, rss = 0;
    std::string command;
    std::getline(in >> pid >> ppid >> rss >> std::ws, command);
    EXPECT_EQ(std::tuple(row->pid, row->ppid, row->command), std::tuple(pid, ppid, command));
    EXPECT_NEAR(row->rssKB, rss, std::max(64.0, 0.05 * static_cast<double>(rss)));
}

// Real cgroups: a busy child in one, idle ones in another with a shell that forks and execs.
// The pruned sampler skips the idle ones, yet shows what a full scan and ps show.
TEST(ProcSamplerLive, RealCgroupsAgreeWithAFullScanAndPs)
{
    ASSERT_NE(dynamic_cast<ProcSampler*>(makeSystemSnapshotter().get()), nullptr);
    const TestCgroup busyGroup("busy"), idleGroup("idle");
    if (busyGroup.path().empty() || idleGroup.path().empty())
        CORVEL_SKIP_TEST("cgroup", busyGroup.why() + idleGroup.why());
    IdleChildren children;
    int pipeFds[2];
    ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
    const pid_t burner = children.start("while :; do :; done");
    const pid_t execer = children.start("read l; /bin/sleep 31 & exec /bin/sleep 32", pipeFds[0]);
    ::close(pipeFds[0]);
    const pid_t zombie = children.start("exit 0");
    siginfo_t info{};
    ::waitid(P_PID, static_cast<id_t>(zombie), &info, WEXITED | WNOWAIT);
    std::vector<pid_t> idle; // programs of their own: forks of a sanitized test are not idle
    for (int i = 0; i < 30; ++i)
        ASSERT_TRUE(idleGroup.add(idle.emplace_back(children.start("exec /bin/sleep 999"))));
    ASSERT_TRUE(busyGroup.add(burner) && idleGroup.add(execer));
    // On a loaded machine the spinner gets a processor only if it comes first.
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(burner), -10);
    std::ofstream("/proc/" + std::to_string(burner) + "/autogroup") << "-10";

    // Settled once the idle ones are skipped (slow under sanitizers).
    ProcSampler pruned, full(ProcSamplerOptions{"/proc", ""});
    for (int tries = 0; tries < 30 && pruned.unread() < idle.size(); ++tries)
        pruned.take(), std::this_thread::sleep_for(300ms);
    double best = 0;
    for (int cycle = 0; cycle < 2 || (cycle < 6 && best <= 60); ++cycle) {
        std::this_thread::sleep_for(cycle ? 500ms : 0ms);
        const auto rows = pruned.take(), expected = full.take();
        for (const pid_t pid : idle) {
            const PSRow *a = find(rows, pid), *b = find(expected, pid);
            ASSERT_TRUE(a && b);
            EXPECT_EQ(std::pair(a->cpu, a->command), std::pair(0.0, b->command));
            EXPECT_NEAR(a->rssKB, b->rssKB, 64);
        }
        ASSERT_TRUE(find(rows, burner));
        best = std::max(best, find(rows, burner)->cpu);
        EXPECT_EQ(std::tuple(pruned.unread() >= idle.size(), full.unread(), !pruned.groups()),
                  std::tuple(true, 0ul, false)); // the walk's tree is lent
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
    for (int i = 0; i < 500 && find(full.take(), execer)->command != "/bin/sleep 32"; ++i)
        std::this_thread::sleep_for(10ms);
    ::kill(burner, SIGSTOP);
    ::waitpid(burner, nullptr, WUNTRACED);
    pruned.take();
    std::this_thread::sleep_for(300ms);
    const auto rows = pruned.take();
    EXPECT_EQ(find(rows, execer)->command, "/bin/sleep 32");
    EXPECT_EQ(
        std::count_if(rows.begin(), rows.end(),
                      [&](auto& r) { return r.ppid == execer && r.command == "/bin/sleep 31"; }),
        1);
    EXPECT_LT(find(rows, burner)->cpu, 5.0);

    // A zombie born now is in no cgroup's list: the look for processes that no list shows,
    // which lists only the pids handed out since the last look, finds it all the same.
    const pid_t late = children.start("exit 0");
    ::waitid(P_PID, static_cast<id_t>(late), &info, WEXITED | WNOWAIT);
    bool seen = false;
    for (int i = 0; i < 17 && !seen; ++i)
        seen = find(pruned.take(), late) != nullptr;
    EXPECT_TRUE(seen);
}

// A parent that ends makes its children another's without their running: children put aside
// in an idle cgroup show their new parent at the next take, whether the old one was reaped or
// is a zombie still.
TEST(ProcSamplerLive, IdleChildrenOfAnEndedParentShowTheirNewParent)
{
    const TestCgroup idleGroup("orphans");
    if (idleGroup.path().empty())
        CORVEL_SKIP_TEST("cgroup", idleGroup.why());
    IdleChildren children;
    std::vector<pid_t> parents, orphans;
    for (int i = 0; i < 2; ++i) {
        parents.push_back(children.start("/bin/sleep 997 & exec /bin/sleep 998"));
        const std::string list = "/proc/" + std::to_string(parents.back()) + "/task/" +
                                 std::to_string(parents.back()) + "/children";
        pid_t child = 0;
        for (int tries = 0; tries < 500 && !(std::ifstream(list) >> child); ++tries)
            std::this_thread::sleep_for(10ms);
        ASSERT_TRUE(child > 0 && idleGroup.add(child));
        orphans.push_back(child);
    }
    ProcSampler pruned;
    for (int i = 0; i < 5; ++i)
        pruned.take(), std::this_thread::sleep_for(200ms); // put aside by now
    siginfo_t info{};
    ::kill(parents[0], SIGKILL), ::waitpid(parents[0], nullptr, 0);
    ::kill(parents[1], SIGKILL),
        ::waitid(P_PID, static_cast<id_t>(parents[1]), &info, WEXITED | WNOWAIT);
    const auto rows = pruned.take();
    for (const pid_t orphan : orphans)
        expectAgreesWithPs(find(rows, orphan));
}

// A proc instance of the test's own, in a mount namespace of its own, remounted to hide other
// users' processes: the reader notices at its next take, unprompted.
TEST(ProcSamplerLive, AChangedMountIsSeenAtTheNextTake)
{
    const TempDir dir;
    const char* at = dir.path().c_str();
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) ||
        ::mount("proc", at, "proc", 0, nullptr) != 0)
        CORVEL_SKIP_TEST("root", "a mount namespace needs root");
    ProcSampler sampler(ProcSamplerOptions{at, ""});
    sampler.take();
    sampler.take();
    EXPECT_FALSE(sampler.machineShare());
    ASSERT_EQ(::mount(nullptr, at, nullptr, MS_REMOUNT, "hidepid=2"), 0);
    std::this_thread::sleep_for(100ms); // the machine's clock ticks on
    sampler.take();
    EXPECT_TRUE(sampler.machineShare());
    ::umount2(at, MNT_DETACH);
}

} // namespace
