#pragma once

#include "attribution.h"
#include "cgroup_apps.h"
#include "entry_table.h"
#include "window_props.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace corvel {

// What one cycle found, and how to name what it found.
struct AppSightings
{
    std::vector<UnitProcesses> units;
    std::vector<WindowInfo> windows;
    const EntryTable* applications = nullptr;
    const EntryTable* autostart = nullptr;
    // The file name of the program a process runs; nothing for kernel threads and processes
    // that are gone. Asked only for window pids that no unit covers.
    std::function<std::optional<std::string>(std::int32_t pid)> executableOf;
};

// Keeps last cycle's records and hands back the same record while nothing in it changed, so
// a steady desktop costs no allocation per process.
class RecordReuse
{
public:
    RunningAppRef make(const RunningApp& wanted);
    void finishCycle();

private:
    std::unordered_map<std::int32_t, RunningAppRef> previous_;
    std::unordered_map<std::int32_t, RunningAppRef> current_;
};

// The running-application records: one per process of each application unit, all of a unit
// carrying the unit's id, then one per window pid that no unit covers. Policy: a taskbar
// window makes an application regular; only windows kept out of the taskbar make it
// accessory; without windows, a visible entry makes it regular and an autostart or NoDisplay
// entry accessory; launcher units, units with no entry and no window, and pids whose only
// windows are docks or desktops are prohibited.
std::vector<RunningAppRef> runningAppRecords(const AppSightings& seen, RecordReuse& reuse);

} // namespace corvel
