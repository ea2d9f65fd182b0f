#include "tool_runner.h"

#include "unique_fd.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace corvel {
namespace {

using Clock = std::chrono::steady_clock;

int millisecondsLeft(Clock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Reads until end of file, the deadline or the size bound; true when it reached end of file.
bool readAll(int fd, std::string& out, Clock::time_point deadline, std::size_t maxBytes)
{
    char buffer[65536];
    for (;;) {
        pollfd pfd{fd, POLLIN, 0};
        const int ready = ::poll(&pfd, 1, millisecondsLeft(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false; // deadline
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            return n == 0;
        const std::size_t room = maxBytes - out.size();
        out.append(buffer, std::min(static_cast<std::size_t>(n), room));
        if (out.size() >= maxBytes)
            return false;
    }
}

// Waits for the child until the deadline; kills it then. Always reaps it.
void reap(pid_t pid, Clock::time_point deadline, bool killNow)
{
    if (!killNow) {
        // A pidfd lets us wait with a deadline without polling on a timer.
        const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
        if (pidfd >= 0) {
            pollfd pfd{pidfd, POLLIN, 0};
            while (::poll(&pfd, 1, millisecondsLeft(deadline)) < 0 && errno == EINTR) {
            }
            ::close(pidfd);
        } else {
            while (Clock::now() < deadline && ::waitpid(pid, nullptr, WNOHANG) == 0)
                ::usleep(2000);
        }
        int status = 0;
        pid_t done = 0;
        while ((done = ::waitpid(pid, &status, WNOHANG)) < 0 && errno == EINTR) {
        }
        if (done == pid || done < 0)
            return;
    }
    // The child leads its own process group, so helpers it started go with it.
    ::kill(-pid, SIGKILL);
    ::kill(pid, SIGKILL);
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

} // namespace

std::string captureOutput(const char* path, const std::vector<std::string>& args,
                          const ToolLimits& limits)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return {};
    UniqueFd readEnd(fds[0]);
    UniqueFd writeEnd(fds[1]);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    if (posix_spawn_file_actions_init(&actions) != 0)
        return {};
    if (posix_spawnattr_init(&attributes) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return {};
    }
    posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    // Descriptors that others in this process opened without close-on-exec stay ours.
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    // Own process group, so a kill reaches whatever the tool started; default signal
    // dispositions and an empty mask, whatever this process set for itself.
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK |
                                              POSIX_SPAWN_SETSIGDEF);

    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, path, &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    writeEnd.reset(); // end of file comes when the child's copy closes
    if (spawned != 0)
        return {};

    const Clock::time_point deadline = Clock::now() + limits.timeout;
    std::string output;
    const bool complete = readAll(readEnd.get(), output, deadline, limits.maxOutputBytes);
    readEnd.reset();
    reap(pid, deadline, !complete);
    return output;
}

} // namespace corvel
