// The sampler on this machine's /proc, against children of the test and against what
// /bin/ps prints for them.

#include "proc_sampler.h"
#include "system_snapshot.h"
#include "tool_runner.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace corvel;
using namespace std::chrono_literals;

namespace {

// A child process, killed and reaped when the test lets go of it, and killed by the kernel
// should the test die first. Its output goes nowhere, so it never holds the runner's pipes.
class Child
{
public:
    explicit Child(std::vector<std::string> args, int stdinFd = -1, bool ownSession = false)
    {
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        const pid_t parent = ::getpid();
        pid_ = ::fork();
        if (pid_ != 0)
            return;
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
        if (ownSession)
            ::setsid();
        if (stdinFd >= 0)
            ::dup2(stdinFd, 0);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    // A forked child that exits at once and is left unreaped: a zombie.
    Child() : pid_(::fork())
    {
        if (pid_ == 0)
            ::_exit(0);
        siginfo_t info{};
        ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOWAIT);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
};

const PSRow* find(const std::vector<PSRow>& rows, pid_t pid)
{
    for (const PSRow& row : rows) {
        if (row.pid == pid)
            return &row;
    }
    return nullptr;
}

struct PsView
{
    int pid = 0, ppid = 0;
    long rss = 0;
    std::string command;
};

PsView psView(pid_t pid)
{
    const std::string text = captureOutput(
        "/bin/ps", {"/bin/ps", "-o", "pid=,ppid=,rss=,command=", "-p", std::to_string(pid)},
        ToolLimits{});
    std::istringstream in(text);
    PsView view;
    in >> view.pid >> view.ppid >> view.rss >> std::ws;
    std::getline(in, view.command);
    return view;
}

void expectAgreesWithPs(const PSRow& row)
{
    const PsView ps = psView(row.pid);
    EXPECT_EQ(row.pid, ps.pid);
    EXPECT_EQ(row.ppid, ps.ppid);
    EXPECT_NEAR(static_cast<double>(row.rssKB), static_cast<double>(ps.rss),
                std::max(64.0, 0.05 * static_cast<double>(ps.rss)));
    EXPECT_EQ(row.command, ps.command);
}

std::string commOf(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
    std::string comm;
    std::getline(in, comm);
    return comm;
}

TEST(ProcSamplerLive, BusyChildNowAndStoppedChildNow)
{
    ASSERT_NE(dynamic_cast<ProcSampler*>(makeSystemSnapshotter().get()), nullptr)
        << "this machine's /proc should be read directly";

    Child burner({"/bin/sh", "-c", "while :; do :; done"}, -1, true);
    Child sleeper({"/bin/sleep", "30"});
    ASSERT_GT(burner.pid(), 0);
    ASSERT_GT(sleeper.pid(), 0);
    // On a loaded machine the spinner gets a processor only if it comes first: its own
    // session (so its own scheduler autogroup) and a raised priority. That needs root, as CI
    // has; without it the test counts on a quiet machine.
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(burner.pid()), -10);
    std::ofstream("/proc/" + std::to_string(burner.pid()) + "/autogroup") << "-10";

    ProcSampler sampler;
    double best = 0;
    for (int cycle = 0; cycle < 5 && best <= 60; ++cycle) {
        if (cycle > 0)
            std::this_thread::sleep_for(500ms);
        const auto rows = sampler.take();
        const PSRow* busy = find(rows, burner.pid());
        const PSRow* idle = find(rows, sleeper.pid());
        ASSERT_TRUE(busy && idle);
        best = std::max(best, busy->cpu);
        EXPECT_LT(busy->cpu, 115.0); // one thread: one processor, give or take a tick
        EXPECT_LT(idle->cpu, 5.0);
        if (cycle == 0) {
            expectAgreesWithPs(*busy);
            expectAgreesWithPs(*idle);
            EXPECT_EQ(busy->ppid, ::getpid());
            EXPECT_EQ(idle->command, "/bin/sleep 30");
        }
    }
    EXPECT_GT(best, 60.0) << "a child spinning on one processor";

    // Stopped after its burst: its lifetime average stays high, its share now is nil.
    ::kill(burner.pid(), SIGSTOP);
    ::waitpid(burner.pid(), nullptr, WUNTRACED);
    sampler.take();
    std::this_thread::sleep_for(500ms);
    const auto rows = sampler.take();
    const PSRow* stopped = find(rows, burner.pid());
    ASSERT_TRUE(stopped);
    EXPECT_LT(stopped->cpu, 5.0);
}

TEST(ProcSamplerLive, ExecAndZombieShownAsPsShowsThem)
{
    int pipeFds[2];
    ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
    Child execer({"/bin/sh", "-c", "read line; exec /bin/sleep 31"}, pipeFds[0]);
    ::close(pipeFds[0]);
    Child zombie;
    ASSERT_GT(execer.pid(), 0);
    ASSERT_GT(zombie.pid(), 0);

    ProcSamplerOptions options;
    options.firstInterval = 50ms;
    ProcSampler sampler(options);
    auto rows = sampler.take();
    const PSRow* before = find(rows, execer.pid());
    ASSERT_TRUE(before);
    EXPECT_EQ(before->command, "/bin/sh -c read line; exec /bin/sleep 31");
    const PSRow* dead = find(rows, zombie.pid());
    ASSERT_TRUE(dead);
    EXPECT_EQ(dead->command, "[" + commOf(zombie.pid()) + "] <defunct>");
    expectAgreesWithPs(*dead);

    ASSERT_EQ(::write(pipeFds[1], "\n", 1), 1);
    ::close(pipeFds[1]);
    for (int i = 0; i < 500 && commOf(execer.pid()) != "sleep"; ++i)
        std::this_thread::sleep_for(10ms);
    rows = sampler.take();
    const PSRow* after = find(rows, execer.pid());
    ASSERT_TRUE(after);
    EXPECT_EQ(after->command, "/bin/sleep 31");
    expectAgreesWithPs(*after);
}

// In a child process whose descriptor limit drops below what the sampler holds: it must give
// up kept files, not processes.
TEST(ProcSamplerLive, FewDescriptorsLeft)
{
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ProcSamplerOptions options;
        options.firstInterval = 10ms;
        options.maxKeptFiles = 100000; // as many as the limit allows
        ProcSampler sampler(options);
        sampler.take();
        std::size_t open = 0;
        for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
            open += entry.path().empty() ? 0 : 1;
        rlimit limit{};
        ::getrlimit(RLIMIT_NOFILE, &limit);
        limit.rlim_cur = open;
        ::setrlimit(RLIMIT_NOFILE, &limit);
        // A new process needs descriptors to be read at all.
        const pid_t parent = ::getpid();
        const pid_t newcomer = ::fork();
        if (newcomer == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() == parent)
                ::pause();
            ::_exit(0);
        }
        bool ok = newcomer > 0;
        for (int i = 0; i < 3; ++i) {
            const auto rows = sampler.take();
            ok = ok && find(rows, newcomer) && find(rows, parent) &&
                 sampler.keptFiles() < open;
        }
        ::kill(newcomer, SIGKILL);
        ::waitpid(newcomer, nullptr, 0);
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

} // namespace
