#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvel {

// An application's own unit of the user's service manager, as a cgroup shows it.
struct UnitPlace
{
    std::string name;   // "app-gnome-firefox-2411.scope": what the service manager calls it
    std::string id;     // the application id its name carries
    std::string folder; // its cgroup path, from the cgroup2 root
};

// The innermost application scope or service (app-….scope, app-….service) under the user
// manager `user@uid.service` on a cgroup path; nothing for the launcher's own units, slices
// and anything outside the user manager.
std::optional<UnitPlace> appUnitOfPath(std::string_view cgroupPath, std::uint32_t uid);

// The unit that stopping quits the application `appId` and nothing else: every one of
// `pids` runs in it, its id is `appId`, and no other process runs in it. Read from
// `procRoot`/PID/cgroup and the cgroup2 tree at `cgroupRoot`.
std::optional<UnitPlace> soleAppUnit(const std::vector<std::int32_t>& pids, std::string_view appId,
                                     const std::string& procRoot, const std::string& cgroupRoot,
                                     std::uint32_t uid);

} // namespace corvel
