#include "attribution.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string_view>

namespace corvel {
namespace {

constexpr std::string_view bundleMarker = ".app/";
constexpr int maxAncestors = 12;
constexpr std::int32_t lowestAncestorPid = 2;

using ParentMap = std::unordered_map<std::int32_t, std::int32_t>;

const RunningApp* findIn(const AppsByPID& byPID, std::int32_t pid)
{
    const auto it = byPID.find(pid);
    return it == byPID.end() ? nullptr : it->second.get();
}

const UnitMember* unitOf(const UnitsByPID& byUnit, std::int32_t pid)
{
    const auto it = byUnit.find(pid);
    return it == byUnit.end() ? nullptr : &it->second;
}

// The running application that owns one process, or none.
const RunningApp* owner(const PSRow& row, const AppsByPID& byPID, const AppsByPath& byBundlePath,
                        const UnitsByPID& byUnit, const ParentMap& parents)
{
    if (const RunningApp* own = findIn(byPID, row.pid))
        return own;

    // The first ".app/" decides: the command line cut just after that ".app".
    if (!byBundlePath.empty()) {
        const std::size_t marker = row.command.find(bundleMarker);
        if (marker != std::string::npos) {
            const auto it = byBundlePath.find(row.command.substr(0, marker + 4));
            if (it != byBundlePath.end())
                return it->second.get();
        }
    }

    // Inside a unit, only an ancestor in the same unit can claim a process: an application
    // started from a terminal's tab keeps its helpers, while one that the desktop started
    // into a unit of its own is not taken by the program that asked for it. Leaving the unit
    // ends the walk, and the unit owns the process. A walk from outside any unit that reaches
    // one goes on by the same rule.
    const UnitMember* unit = unitOf(byUnit, row.pid);
    std::int32_t ancestor = row.ppid;
    for (int n = 0; ancestor >= lowestAncestorPid && n < maxAncestors; ++n) {
        const UnitMember* there = unitOf(byUnit, ancestor);
        if (unit && (!there || there->unit != unit->unit))
            break;
        if (const RunningApp* app = findIn(byPID, ancestor))
            return app;
        if (!unit)
            unit = there;
        const auto parent = parents.find(ancestor);
        if (parent == parents.end())
            break;
        ancestor = parent->second;
    }
    return unit ? unit->app.get() : nullptr;
}

// Sums of a snapshot's figures stay at the limit rather than wrap: rows from the
// process-status tool may carry any value.
std::int64_t addSaturating(std::int64_t a, std::int64_t b)
{
    std::int64_t sum = 0;
    if (__builtin_add_overflow(a, b, &sum))
        return b > 0 ? std::numeric_limits<std::int64_t>::max()
                     : std::numeric_limits<std::int64_t>::min();
    return sum;
}

std::string keyOf(const RunningApp& app)
{
    if (app.bundleIdentifier)
        return *app.bundleIdentifier;
    return "pid" + std::to_string(app.processIdentifier);
}

// The order shown: CPU share descending, exact ties by memory descending. A share that is not
// a number has no place in that order, so such entries follow all others, by memory.
bool shownBefore(const AppUsage& a, const AppUsage& b)
{
    const bool aNumber = !std::isnan(a.cpu);
    const bool bNumber = !std::isnan(b.cpu);
    if (aNumber != bNumber)
        return aNumber;
    if (aNumber && a.cpu != b.cpu)
        return a.cpu > b.cpu;
    return a.memoryKB > b.memoryKB;
}

} // namespace

Grouping group(const std::vector<PSRow>& rows, const AppsByPID& byPID,
               const AppsByPath& byBundlePath, const UnitsByPID& byUnit)
{
    ParentMap parents;
    parents.reserve(rows.size());
    for (const PSRow& row : rows)
        parents.emplace(row.pid, row.ppid); // the first row of a pid wins

    Grouping result;
    // Entries are found by id; the owner's record is remembered too so that the id text is
    // built once per application, not once per row.
    std::unordered_map<std::string, std::size_t> entryById;
    std::unordered_map<const RunningApp*, std::size_t> entryByOwner;
    std::size_t systemEntry = SIZE_MAX;

    for (const PSRow& row : rows) {
        const RunningApp* app = owner(row, byPID, byBundlePath, byUnit, parents);
        std::size_t index = 0;
        if (!app) {
            if (systemEntry == SIZE_MAX) {
                const auto [it, added] = entryById.emplace(systemEntryId, result.apps.size());
                if (added)
                    result.apps.push_back(AppUsage{systemEntryId, systemEntryName, {}, 0, 0, 0});
                systemEntry = it->second;
            }
            index = systemEntry;
        } else if (const auto known = entryByOwner.find(app); known != entryByOwner.end()) {
            index = known->second;
        } else {
            std::string key = keyOf(*app);
            const auto [it, added] = entryById.emplace(key, result.apps.size());
            if (added) {
                std::string name = app->localizedName ? *app->localizedName : key;
                result.apps.push_back(
                    AppUsage{std::move(key), std::move(name), app->icon, 0, 0, 0});
            }
            index = it->second;
            entryByOwner.emplace(app, index);
        }
        AppUsage& entry = result.apps[index];
        entry.cpu += row.cpu;
        entry.memoryKB = addSaturating(entry.memoryKB, row.rssKB);
        entry.processCount = addSaturating(entry.processCount, 1);
        result.total += row.cpu;
    }

    std::sort(result.apps.begin(), result.apps.end(), shownBefore);
    return result;
}

AppLookups buildLookups(RunningApps running)
{
    const auto shown = [](const RunningAppRef& app) {
        return app && app->activationPolicy != ActivationPolicy::prohibited;
    };
    AppLookups lookups;
    lookups.byPID.reserve(running.apps.size() + running.byPID.size());
    for (const RunningAppRef& app : running.apps) {
        if (!shown(app))
            continue;
        if (app->processIdentifier > 0) // 0: an application known by its unit or program
            lookups.byPID[app->processIdentifier] = app;
        if (app->bundlePath)
            lookups.byBundlePath[*app->bundlePath] = app;
    }
    for (auto& [pid, app] : running.byPID)
        if (shown(app))
            lookups.byPID[pid] = std::move(app);
    lookups.byUnit = std::move(running.byUnit);
    std::erase_if(lookups.byUnit, [&](const auto& member) { return !shown(member.second.app); });
    return lookups;
}

} // namespace corvel
