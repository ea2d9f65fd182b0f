#pragma once

#include "group_tree.h"
#include "unit_name.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvel {

// One application unit of the user's service manager and every process in it, sub-cgroups
// included.
struct UnitProcesses
{
    AppUnit unit;
    std::string name; // the unit's folder name
    std::vector<std::int32_t> pids;
};

// Reads the application units under the user's user@UID.service from a cgroup2 tree.
class CgroupApps
{
public:
    using Clock = std::chrono::steady_clock;

    // `cgroupRoot`: where cgroup2 is mounted; `procRoot`: /proc, for the process's own
    // cgroup. A missing user service is looked for again at most every `relocateEvery`.
    CgroupApps(std::string cgroupRoot, std::string procRoot, std::uint32_t uid,
               Clock::duration relocateEvery = std::chrono::seconds(10));

    // The application units with at least one process, in name order, their processes
    // ascending. Taken from `groups` (the sampler's walk of this cycle) when it is the same
    // tree and has read every cgroup below the user's service; else read from the tree.
    std::vector<UnitProcesses> scan(Clock::time_point now, const GroupTree* groups = nullptr);

private:
    // The user's service in the tree at `top`, looked for again at most every relocateEvery_.
    template <class Folder>
    std::optional<Folder> userService(const Folder& top, Clock::time_point now);
    template <class Folder>
    std::string locate(const Folder& top) const; // its path below the root; empty: none

    std::string cgroupRoot_;
    std::string procRoot_;
    std::uint32_t uid_;
    Clock::duration relocateEvery_;
    std::string userService_; // below the root; empty: none found
    bool located_ = false;
    Clock::time_point lastLocate_{};
};

// The cgroup2 path of a /proc/PID/cgroup text (its "0::" line), without a trailing slash.
std::optional<std::string> unifiedCgroupPath(std::string_view procCgroup);

// The leading part of a cgroup path up to and including "user@<uid>.service", if it has one.
std::optional<std::string> userServicePrefix(std::string_view cgroupPath, std::uint32_t uid);

// The process ids of a cgroup.procs text; lines that are not pids are skipped.
std::vector<std::int32_t> parseCgroupProcs(std::string_view text);

// The processes of a cgroup folder and of its sub-cgroups.
std::vector<std::int32_t> pidsInCgroup(const std::string& folder);

// The mount point of cgroup2 in a /proc/self/mountinfo text, if it is mounted.
std::optional<std::string> cgroup2MountPoint(std::string_view mountinfo);

} // namespace corvel
