#include "app_records.h"

#include <unordered_set>

namespace corvel {
namespace {

// What the windows of one process say.
struct PidWindows
{
    bool taskbar = false;
    bool skipsTaskbar = false;
    const WindowInfo* first = nullptr; // the first window that is not part of the shell
    const WindowInfo* any = nullptr;
};

using WindowsByPid = std::unordered_map<std::int32_t, PidWindows>;

WindowsByPid windowsByPid(const std::vector<WindowInfo>& windows, std::vector<std::int32_t>& order)
{
    WindowsByPid byPid;
    for (const WindowInfo& window : windows) {
        auto [it, added] = byPid.try_emplace(window.pid);
        if (added)
            order.push_back(window.pid);
        PidWindows& seen = it->second;
        if (!seen.any)
            seen.any = &window;
        if (window.role == WindowRole::shell)
            continue;
        if (!seen.first)
            seen.first = &window;
        (window.role == WindowRole::taskbar ? seen.taskbar : seen.skipsTaskbar) = true;
    }
    return byPid;
}

IconHandle iconOf(const DesktopEntry* entry)
{
    if (!entry || !entry->icon)
        return nullptr;
    return std::make_shared<const IconRef>(IconRef{*entry->icon});
}

bool sameIcon(const IconHandle& a, const IconHandle& b)
{
    if (!a || !b)
        return !a && !b;
    return a->nameOrPath == b->nameOrPath;
}

bool sameRecord(const RunningApp& a, const RunningApp& b)
{
    return a.processIdentifier == b.processIdentifier && a.bundlePath == b.bundlePath &&
           a.activationPolicy == b.activationPolicy && a.bundleIdentifier == b.bundleIdentifier &&
           a.localizedName == b.localizedName && sameIcon(a.icon, b.icon);
}

std::optional<std::string> nameOf(const DesktopEntry* entry, const WindowInfo* window)
{
    if (entry && entry->name)
        return entry->name;
    if (window && !window->wmClass.empty())
        return window->wmClass;
    return std::nullopt;
}

// The policy from windows first, then from the entry.
ActivationPolicy policyOf(bool taskbar, bool skipsTaskbar, const DesktopEntry* entry,
                          bool autostart)
{
    if (taskbar)
        return ActivationPolicy::regular;
    if (skipsTaskbar)
        return ActivationPolicy::accessory;
    if (!entry)
        return ActivationPolicy::prohibited;
    return entry->noDisplay || autostart ? ActivationPolicy::accessory : ActivationPolicy::regular;
}

} // namespace

RunningAppRef RecordReuse::make(const RunningApp& wanted)
{
    const auto it = previous_.find(wanted.processIdentifier);
    RunningAppRef record = it != previous_.end() && sameRecord(*it->second, wanted)
                               ? it->second
                               : std::make_shared<const RunningApp>(wanted);
    current_.insert_or_assign(wanted.processIdentifier, record);
    return record;
}

void RecordReuse::finishCycle()
{
    previous_.swap(current_);
    current_.clear();
}

std::vector<RunningAppRef> runningAppRecords(const AppSightings& seen, RecordReuse& reuse)
{
    static const EntryTable noEntries;
    const EntryTable& applications = seen.applications ? *seen.applications : noEntries;
    const EntryTable& autostart = seen.autostart ? *seen.autostart : noEntries;
    std::vector<std::int32_t> windowOrder;
    const WindowsByPid windows = windowsByPid(seen.windows, windowOrder);

    std::vector<RunningAppRef> records;
    std::unordered_set<std::int32_t> covered;
    for (const UnitProcesses& unit : seen.units) {
        PidWindows unitWindows;
        for (const std::int32_t pid : unit.pids) {
            const auto it = windows.find(pid);
            if (it == windows.end())
                continue;
            unitWindows.taskbar |= it->second.taskbar;
            unitWindows.skipsTaskbar |= it->second.skipsTaskbar;
            if (!unitWindows.first)
                unitWindows.first = it->second.first;
        }
        const bool isAutostart = unit.unit.kind == AppUnit::Kind::autostart;
        const DesktopEntry* entry = isAutostart ? autostart.find(unit.unit.id) : nullptr;
        if (!entry)
            entry = applications.find(unit.unit.id);
        if (!entry && unitWindows.first)
            if (const auto match = applications.matchWindow(unitWindows.first->wmClass,
                                                             unitWindows.first->wmInstance, {}))
                entry = match->entry;

        RunningApp app;
        app.bundleIdentifier = unit.unit.id;
        app.localizedName = nameOf(entry, unitWindows.first);
        app.icon = iconOf(entry);
        app.activationPolicy =
            unit.unit.kind == AppUnit::Kind::launcher
                ? ActivationPolicy::prohibited
                : policyOf(unitWindows.taskbar, unitWindows.skipsTaskbar, entry, isAutostart);
        for (const std::int32_t pid : unit.pids) {
            if (!covered.insert(pid).second)
                continue; // listed twice (moved between units mid-read): first unit wins
            app.processIdentifier = pid;
            records.push_back(reuse.make(app));
        }
    }

    for (const std::int32_t pid : windowOrder) {
        if (covered.count(pid))
            continue;
        const PidWindows& found = windows.at(pid);
        const auto executable = seen.executableOf ? seen.executableOf(pid) : std::nullopt;
        if (!executable)
            continue; // gone, a kernel thread, or a pid from another pid namespace
        const WindowInfo& window = found.first ? *found.first : *found.any;
        const auto match = applications.matchWindow(window.wmClass, window.wmInstance, *executable);

        RunningApp app;
        app.processIdentifier = pid;
        if (match && match->entry)
            app.bundleIdentifier = match->id;
        const DesktopEntry* entry = match ? match->entry : nullptr;
        app.localizedName = nameOf(entry, found.first);
        app.icon = iconOf(entry);
        app.activationPolicy = found.taskbar        ? ActivationPolicy::regular
                               : found.skipsTaskbar ? ActivationPolicy::accessory
                                                    : ActivationPolicy::prohibited;
        records.push_back(reuse.make(app));
    }
    reuse.finishCycle();
    return records;
}

} // namespace corvel
