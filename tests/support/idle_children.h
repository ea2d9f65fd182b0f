#pragma once

// Child processes for tests and benchmarks: idle ones for a large process table, shells
// running a script, or any code. Killed and reaped with this object, and by the kernel
// should this process be killed first.

#include <csignal>
#include <functional>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace corvel::testing {

class IdleChildren
{
public:
    explicit IdleChildren(std::size_t count = 0) { resize(count); }
    ~IdleChildren() { resize(0); }
    IdleChildren(const IdleChildren&) = delete;
    IdleChildren& operator=(const IdleChildren&) = delete;

    // Forks idle children, or kills and reaps the last ones, until there are `count`; stops
    // early if fork fails.
    void resize(std::size_t count)
    {
        while (pids_.size() < count && start(nullptr) > 0) {
        }
        for (; pids_.size() > count; pids_.pop_back()) // with what a session leader started
            ::kill(-pids_.back(), SIGKILL), ::kill(pids_.back(), SIGKILL),
                ::waitpid(pids_.back(), nullptr, 0);
    }
    // One more child: /bin/sh -c `script` reading `input` if given, or `run` (which should
    // not return), in a session of its own; `script` null: one that pauses until killed.
    pid_t start(const char* script, int input = -1)
    {
        return start(
            [&] {
                if (script && (input < 0 || ::dup2(input, 0) == 0))
                    ::execl("/bin/sh", "sh", "-c", script, nullptr);
                while (!script)
                    ::pause();
            },
            script != nullptr);
    }
    pid_t start(const std::function<void()>& run, bool session = true)
    {
        const pid_t parent = ::getpid(), pid = ::fork();
        if (pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() == parent && (!session || ::setsid() > 0)) // else it died already
                run();
            ::_exit(127);
        }
        if (pid > 0)
            pids_.push_back(pid);
        return pid;
    }
    const std::vector<pid_t>& pids() const { return pids_; }

private:
    std::vector<pid_t> pids_;
};

} // namespace corvel::testing
