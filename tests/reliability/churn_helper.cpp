#include "churn_helper.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace corvel::testing {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto forkEvery = std::chrono::milliseconds(5); // about 200 a second

// Process names of at most 15 bytes, built to confuse a reader that splits stat at spaces or
// at the first ")".
constexpr const char* names[] = {"a (b) c", ") (",       "x) 1 2 (y", "  ",
                                 "((",      "))) R 1 2", "tab\tname", "end)"};

enum class Kind { plain, rename, rewrite, zombie, execSleep, execSelf, execSameName };

Kind kindOf(long i)
{
    if (i % 40 == 7)
        return Kind::zombie;
    if (i % 40 == 5)
        return Kind::execSelf;
    if (i % 40 == 25)
        return Kind::execSameName;
    switch (i % 20) {
    case 4:
        return Kind::execSleep;
    case 0:
    case 1:
        return Kind::rename;
    case 2:
    case 3:
        return Kind::rewrite;
    default:
        return Kind::plain;
    }
}

void pauseFor(double seconds)
{
    timespec ts{
        static_cast<time_t>(seconds),
        static_cast<long>((seconds - static_cast<double>(static_cast<time_t>(seconds))) * 1e9)};
    while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

// Overwrites the argument area the way title-setting programs do: a new title padded with
// NULs, a title that fills the area with no NUL at all (the kernel then reads on into the
// environment), or bytes that are not UTF-8 with line feeds.
void rewriteArguments(long i, char* area, std::size_t length)
{
    std::memset(area, 0, length);
    switch (i % 3) {
    case 0: {
        const char title[] = "churn: rewritten (title) with  spaces";
        std::memcpy(area, title, std::min(length - 1, sizeof title - 1));
        break;
    }
    case 1:
        std::memset(area, 'w', length);
        break;
    default: {
        const char bytes[] = "\xff\xfe churn\n\xc3(\xe2\x82 line\nfeed \xf0\x9f\x98";
        std::memcpy(area, bytes, std::min(length - 1, sizeof bytes - 1));
        break;
    }
    }
}

[[noreturn]] void child(long i, char** argv, char* area, std::size_t length, int reportFd)
{
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    switch (kindOf(i)) {
    case Kind::plain:
    case Kind::zombie:
        pauseFor(static_cast<double>(i % 3) * 0.01);
        ::_exit(0);
    case Kind::rename:
        ::prctl(PR_SET_NAME, names[i % std::size(names)]);
        pauseFor(0.06);
        ::_exit(0);
    case Kind::rewrite:
        rewriteArguments(i, area, length);
        pauseFor(0.06);
        ::_exit(0);
    case Kind::execSleep:
    case Kind::execSelf:
    case Kind::execSameName: {
        pauseFor(0.4); // long enough to be sampled under the old command first
        const Kind kind = kindOf(i);
        char life[32];
        std::snprintf(life, sizeof life, "%.1f", execLifeSeconds);
        char line[96];
        const auto now =
            std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
                .count();
        const int n = std::snprintf(line, sizeof line, "%d %c %lld\n", static_cast<int>(::getpid()),
                                    kind == Kind::execSleep  ? 's'
                                    : kind == Kind::execSelf ? 'e'
                                                             : 'n',
                                    static_cast<long long>(now));
        if (::write(reportFd, line, static_cast<std::size_t>(n)) != n)
            ::_exit(3);
        if (kind != Kind::execSleep) {
            char* const args[] = {argv[0], const_cast<char*>(execTargetFlag), life, nullptr};
            // Through /proc/self/exe the process name becomes "exe"; through the program's
            // own path it stays the same, and only the command line tells of the exec.
            ::execv(kind == Kind::execSelf ? "/proc/self/exe" : argv[0], args);
        } else {
            char* const args[] = {const_cast<char*>("/bin/sleep"), life, nullptr};
            ::execv("/bin/sleep", args);
        }
        ::_exit(4);
    }
    }
    ::_exit(0);
}

} // namespace

int runChurnHelper(int argc, char** argv, double seconds, int reportFd)
{
    char* area = argv[0];
    const std::size_t length =
        static_cast<std::size_t>(argv[argc - 1] + std::strlen(argv[argc - 1]) + 1 - argv[0]);

    std::vector<pid_t> running;
    std::vector<pid_t> zombies;
    long forked = 0;
    long failed = 0;
    long counts[7] = {};
    const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                        std::chrono::duration<double>(seconds));
    auto next = Clock::now();
    for (long i = 0; Clock::now() < end; ++i) {
        next += forkEvery;
        if (const auto wait = next - Clock::now(); wait > Clock::duration::zero())
            pauseFor(std::chrono::duration<double>(wait).count());
        const pid_t pid = ::fork();
        if (pid == 0)
            child(i, argv, area, length, reportFd);
        if (pid < 0) {
            ++failed;
            continue;
        }
        ++forked;
        ++counts[static_cast<int>(kindOf(i))];
        (kindOf(i) == Kind::zombie ? zombies : running).push_back(pid);
        std::erase_if(running, [](pid_t p) { return ::waitpid(p, nullptr, WNOHANG) == p; });
    }
    for (const pid_t pid : running)
        ::waitpid(pid, nullptr, 0);
    for (const pid_t pid : zombies)
        ::waitpid(pid, nullptr, 0);
    std::printf(
        "churn helper: forked %ld (%ld failed) in %.0f s: %ld plain, %ld renamed, %ld "
        "rewrote argv, %ld zombies, %ld exec'ed /bin/sleep, %ld exec'ed themselves, %ld of them "
        "under the same name\n",
        forked, failed, seconds, counts[0], counts[1], counts[2], counts[3], counts[4], counts[5],
        counts[6]);
    return 0;
}

} // namespace corvel::testing
