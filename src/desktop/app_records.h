#pragma once

#include "attribution.h"
#include "cgroup_apps.h"
#include "entry_table.h"
#include "window_props.h"

#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

namespace corvel {

// What one cycle found, and how to name what it found.
struct AppSightings
{
    std::vector<UnitProcesses> units;
    std::vector<WindowInfo> windows;
    const EntryTable* applications = nullptr;
    const EntryTable* autostart = nullptr;
    // Processes whose program is an application's, with that application's desktop id.
    std::vector<std::pair<std::int32_t, std::string_view>> programs;
};

// The running applications, each once, and whose processes are theirs:
// - every process of an application unit runs in that unit (the first unit wins for a pid
//   listed twice);
// - a process whose program, or else whose window, names another application than its unit
//   (or that runs in no unit) is that application's own process;
// - a window no unit or program accounts for makes an application of its own, known by its
//   process id when no entry matches it.
// Policy: a taskbar window makes an application regular; only windows kept out of the taskbar
// make one with an entry accessory; without windows, a visible entry makes it regular and an
// autostart or NoDisplay entry accessory; launcher units, applications with no entry and no
// window, those known by windows no taskbar lists, and those whose only windows are docks,
// panels or desktops are prohibited.
RunningApps runningApps(const AppSightings& seen);

} // namespace corvel
