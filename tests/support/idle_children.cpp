#include "support/idle_children.h"

#include <csignal>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace corvel::testing {

void IdleChildren::resize(std::size_t count)
{
    const pid_t parent = ::getpid();
    while (pids_.size() < count) {
        const pid_t pid = ::fork();
        if (pid < 0)
            return;
        if (pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != parent) // the parent died before the line above took effect
                ::_exit(0);
            for (;;)
                ::pause();
        }
        pids_.push_back(pid);
    }
    while (pids_.size() > count) {
        ::kill(pids_.back(), SIGKILL);
        ::waitpid(pids_.back(), nullptr, 0);
        pids_.pop_back();
    }
}

} // namespace corvel::testing
