#include "attribution.h"

#include <algorithm>
#include <cmath>
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

// The running application that owns one process, or none.
const RunningApp* owner(const PSRow& row, const AppsByPID& byPID, const AppsByPath& byBundlePath,
                        const ParentMap& parents)
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

    std::int32_t ancestor = row.ppid;
    for (int n = 0; ancestor >= lowestAncestorPid && n < maxAncestors; ++n) {
        if (const RunningApp* app = findIn(byPID, ancestor))
            return app;
        const auto parent = parents.find(ancestor);
        if (parent == parents.end())
            break;
        ancestor = parent->second;
    }
    return nullptr;
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
               const AppsByPath& byBundlePath)
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
        const RunningApp* app = owner(row, byPID, byBundlePath, parents);
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
                result.apps.push_back(AppUsage{std::move(key), std::move(name), app->icon, 0, 0, 0});
            }
            index = it->second;
            entryByOwner.emplace(app, index);
        }
        AppUsage& entry = result.apps[index];
        entry.cpu += row.cpu;
        entry.memoryKB += row.rssKB;
        entry.processCount += 1;
        result.total += row.cpu;
    }

    std::sort(result.apps.begin(), result.apps.end(), shownBefore);
    return result;
}

AppLookups buildLookups(const std::vector<RunningAppRef>& running)
{
    AppLookups lookups;
    lookups.byPID.reserve(running.size());
    for (const RunningAppRef& app : running) {
        if (!app || app->activationPolicy == ActivationPolicy::prohibited)
            continue;
        lookups.byPID[app->processIdentifier] = app;
        if (app->bundlePath)
            lookups.byBundlePath[*app->bundlePath] = app;
    }
    return lookups;
}

} // namespace corvel
