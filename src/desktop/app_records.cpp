#include "app_records.h"

#include <memory>
#include <string>
#include <unordered_map>

namespace corvel {
namespace {

// What the windows of one process, or of one application, say.
struct Windows
{
    bool taskbar = false;
    bool skipsTaskbar = false;
    bool shell = false;
    bool mixed = false; // windows of more than one WM_CLASS (a browser with a web app's window)
    const WindowInfo* first = nullptr; // the first window that is not part of the shell

    void add(const Windows& other)
    {
        taskbar |= other.taskbar;
        skipsTaskbar |= other.skipsTaskbar;
        shell |= other.shell;
        if (!first)
            first = other.first;
    }
};

// One application while the cycle's sightings are gathered.
struct Draft
{
    std::shared_ptr<RunningApp> record;
    const DesktopEntry* entry = nullptr;
    bool autostart = false;
    bool launcher = false;
    bool windowOnly = true; // known by its windows alone
    Windows windows;
};

class Drafts
{
public:
    Drafts(const EntryTable& applications, const EntryTable& autostart)
        : applications_(applications), autostart_(autostart)
    {}

    Draft& forId(const std::string& id, AppUnit::Kind kind = AppUnit::Kind::application)
    {
        const auto [it, added] = byKey_.try_emplace(id, drafts_.size());
        if (!added)
            return drafts_[it->second];
        Draft& draft = drafts_.emplace_back();
        draft.record = std::make_shared<RunningApp>();
        draft.record->bundleIdentifier = id;
        draft.autostart = kind == AppUnit::Kind::autostart;
        draft.launcher = kind == AppUnit::Kind::launcher;
        if (draft.autostart)
            draft.entry = autostart_.find(id);
        if (!draft.entry)
            draft.entry = applications_.find(id);
        return draft;
    }

    // An application no entry names, known by its process.
    Draft& forPid(std::int32_t pid)
    {
        const auto [it, added] =
            byKey_.try_emplace(std::string("\0pid", 4) + std::to_string(pid), drafts_.size());
        if (!added)
            return drafts_[it->second];
        Draft& draft = drafts_.emplace_back();
        draft.record = std::make_shared<RunningApp>();
        draft.record->processIdentifier = pid;
        return draft;
    }

    std::vector<Draft>& all() { return drafts_; }

private:
    const EntryTable& applications_;
    const EntryTable& autostart_;
    std::vector<Draft> drafts_; // stable order: the order of first sighting
    std::unordered_map<std::string, std::size_t> byKey_;
};

std::unordered_map<std::int32_t, Windows> windowsByPid(const std::vector<WindowInfo>& windows,
                                                       std::vector<std::int32_t>& order)
{
    std::unordered_map<std::int32_t, Windows> byPid;
    for (const WindowInfo& window : windows) {
        if (window.pid <= 0)
            continue;
        auto [it, added] = byPid.try_emplace(window.pid);
        if (added)
            order.push_back(window.pid);
        Windows& seen = it->second;
        if (window.role == WindowRole::shell) {
            seen.shell = true;
            continue;
        }
        if (!seen.first)
            seen.first = &window;
        else if (window.wmClass != seen.first->wmClass ||
                 window.wmInstance != seen.first->wmInstance)
            seen.mixed = true;
        (window.role == WindowRole::taskbar ? seen.taskbar : seen.skipsTaskbar) = true;
    }
    return byPid;
}

ActivationPolicy policyOf(const Draft& draft)
{
    if (draft.launcher)
        return ActivationPolicy::prohibited;
    if (draft.windows.taskbar)
        return ActivationPolicy::regular;
    // Only a window a taskbar lists makes an application of a process known by its windows; a
    // panel, the desktop or a dock is the desktop's own, whatever entry names its program.
    if (!draft.entry || draft.windowOnly || (draft.windows.shell && !draft.windows.skipsTaskbar))
        return ActivationPolicy::prohibited;
    if (draft.windows.skipsTaskbar)
        return ActivationPolicy::accessory;
    return draft.entry->noDisplay || draft.autostart ? ActivationPolicy::accessory
                                                     : ActivationPolicy::regular;
}

} // namespace

RunningApps runningApps(const AppSightings& seen)
{
    static const EntryTable noEntries;
    const EntryTable& applications = seen.applications ? *seen.applications : noEntries;
    Drafts drafts(applications, seen.autostart ? *seen.autostart : noEntries);
    RunningApps result;

    std::size_t memberCount = 0;
    for (const UnitProcesses& unit : seen.units)
        memberCount += unit.pids.size();
    result.byUnit.reserve(memberCount);
    for (std::uint32_t index = 0; index < seen.units.size(); ++index) {
        const UnitProcesses& unit = seen.units[index];
        Draft& draft = drafts.forId(unit.unit.id, unit.unit.kind);
        draft.windowOnly = false;
        for (const std::int32_t pid : unit.pids)
            result.byUnit.try_emplace(pid, UnitMember{draft.record, index});
    }
    const auto unitIdOf = [&](std::int32_t pid) -> const std::string* {
        const auto it = result.byUnit.find(pid);
        return it == result.byUnit.end() ? nullptr : &*it->second.app->bundleIdentifier;
    };

    std::vector<std::int32_t> windowOrder;
    const auto windows = windowsByPid(seen.windows, windowOrder);
    // A program claims its process only away from its own application's unit, and not where
    // the process shows only a panel, a dock or the desktop.
    for (const auto& [pid, id] : seen.programs) {
        const std::string* unitId = unitIdOf(pid);
        if (unitId && *unitId == id)
            continue;
        if (const auto shown = windows.find(pid);
            shown != windows.end() && shown->second.shell && !shown->second.first)
            continue;
        Draft& draft = drafts.forId(std::string(id));
        draft.windowOnly = false;
        result.byPID.try_emplace(pid, draft.record);
    }

    for (const std::int32_t pid : windowOrder) {
        const Windows& found = windows.at(pid);
        if (const auto own = result.byPID.find(pid); own != result.byPID.end()) {
            for (Draft& draft : drafts.all())
                if (draft.record == own->second)
                    draft.windows.add(found);
            continue;
        }
        const auto match =
            found.first ? applications.matchWindow(found.first->wmClass, found.first->wmInstance)
                        : std::nullopt;
        const bool named = match && match->entry;
        // Inside a unit, a process is another application only when all its windows say so.
        const std::string* unitId = unitIdOf(pid);
        if (unitId && (!named || match->id == *unitId || found.mixed)) {
            Draft& unitDraft = drafts.forId(*unitId);
            unitDraft.windows.add(found);
            continue;
        }
        Draft& draft = named ? drafts.forId(match->id) : drafts.forPid(pid);
        draft.windows.add(found);
        result.byPID.try_emplace(pid, draft.record);
    }

    // A dock that names no process still names its program's application by its class.
    for (const WindowInfo& window : seen.windows) {
        const auto match = window.pid == 0 && window.role == WindowRole::shell
                               ? applications.matchWindow(window.wmClass, window.wmInstance)
                               : std::nullopt;
        for (Draft& draft : drafts.all())
            if (match && draft.record->bundleIdentifier == match->id)
                draft.windows.shell = true;
    }

    result.apps.reserve(drafts.all().size());
    for (Draft& draft : drafts.all()) {
        RunningApp& app = *draft.record;
        if (!draft.entry && draft.windows.first)
            if (const auto match = applications.matchWindow(draft.windows.first->wmClass,
                                                            draft.windows.first->wmInstance))
                draft.entry = match->entry;
        if (draft.entry && draft.entry->name)
            app.localizedName = draft.entry->name;
        else if (draft.windows.first && !draft.windows.first->wmClass.empty())
            app.localizedName = draft.windows.first->wmClass;
        if (draft.entry && draft.entry->icon)
            app.icon = std::make_shared<const IconRef>(IconRef{*draft.entry->icon});
        app.activationPolicy = policyOf(draft);
        result.apps.push_back(draft.record);
    }
    return result;
}

} // namespace corvel
