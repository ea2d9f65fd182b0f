#include "process_target.h"

#include "small_file.h"
#include "text_rules.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace corvel {
namespace {

// Through syscall(): glibc's wrappers are newer than some of the systems Corvel builds on.
int openPidfd(std::int32_t pid)
{
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

int sendThrough(int pidfd, int signal)
{
    return static_cast<int>(::syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, 0));
}

// A pidfd reads as ready once its process has ended.
bool ended(int pidfd)
{
    pollfd ready{pidfd, POLLIN, 0};
    return ::poll(&ready, 1, 0) != 0;
}

} // namespace

std::optional<std::uint32_t> realUidOfStatus(std::string_view text)
{
    while (!text.empty()) {
        std::string_view line = nextLine(text);
        if (!line.starts_with("Uid:"))
            continue;
        line.remove_prefix(4);
        while (!line.empty() && (line.front() == '\t' || line.front() == ' '))
            line.remove_prefix(1);
        return parseInteger<std::uint32_t>(line.substr(0, line.find_first_of("\t ")));
    }
    return std::nullopt;
}

ProcessTarget ProcessTarget::hold(const std::vector<std::int32_t>& pids,
                                  const std::string& procRoot)
{
    ProcessTarget target;
    for (std::int32_t pid : pids) {
        if (pid <= 0 || target.contains(pid))
            continue;
        UniqueFd fd(openPidfd(pid));
        if (!fd.valid()) {
            target.missed_ += errno != ESRCH;
            continue;
        }
        const auto status =
            readSmallFile(procRoot + "/" + std::to_string(pid) + "/status", 1 << 16);
        const auto uid = status ? realUidOfStatus(*status) : std::nullopt;
        // Still running after the look at /proc: what it showed was this process.
        if (uid && !ended(fd.get()))
            target.held_.push_back({pid, std::move(fd), *uid});
    }
    return target;
}

bool ProcessTarget::contains(std::int32_t pid) const
{
    return std::any_of(held_.begin(), held_.end(),
                       [pid](const HeldProcess& process) { return process.pid == pid; });
}

bool ProcessTarget::anyOwnedByOtherThan(std::uint32_t uid) const
{
    return std::any_of(held_.begin(), held_.end(),
                       [uid](const HeldProcess& process) { return process.uid != uid; });
}

SignalCount ProcessTarget::signal(int signal) const
{
    SignalCount count;
    for (const HeldProcess& process : held_) {
        if (sendThrough(process.fd.get(), signal) == 0)
            ++count.sent;
        else if (errno == ESRCH)
            ++count.ended;
        else
            ++count.refused;
    }
    return count;
}

std::vector<std::int32_t> ProcessTarget::running() const
{
    std::vector<std::int32_t> pids;
    for (const HeldProcess& process : held_)
        if (!ended(process.fd.get()))
            pids.push_back(process.pid);
    return pids;
}

} // namespace corvel
