#pragma once

#include "unique_fd.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvel {

// One process held by a pidfd: signals sent through it reach this process or none, never one
// that took its pid after it ended.
struct HeldProcess
{
    std::int32_t pid = 0;
    UniqueFd fd;
    std::uint32_t uid = 0; // its real user when it was held
};

// How many processes a signal reached, found ended, or could not be sent to.
struct SignalCount
{
    int sent = 0;
    int ended = 0;
    int refused = 0;
};

// The processes an action acts on, fixed when it is opened.
class ProcessTarget
{
public:
    ProcessTarget() = default;

    // Holds each of `pids` that still runs; its user is read from `procRoot`/PID/status.
    static ProcessTarget hold(const std::vector<std::int32_t>& pids,
                              const std::string& procRoot = "/proc");

    const std::vector<HeldProcess>& processes() const { return held_; }
    bool empty() const { return held_.empty(); }
    // Processes still running that could not be held (no descriptor left, say).
    int missed() const { return missed_; }
    bool contains(std::int32_t pid) const;
    // Whether a held process belongs to someone other than `uid`.
    bool anyOwnedByOtherThan(std::uint32_t uid) const;

    SignalCount signal(int signal) const;
    // The held processes that have not ended yet.
    std::vector<std::int32_t> running() const;

private:
    std::vector<HeldProcess> held_;
    int missed_ = 0;
};

// The real user id of a /proc/PID/status text (its "Uid:" line).
std::optional<std::uint32_t> realUidOfStatus(std::string_view status);

} // namespace corvel
