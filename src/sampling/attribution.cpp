#include "attribution.h"

#include "owner.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string_view>

namespace corvel {
namespace ownership {

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

namespace {

// A share that is not a number has no place in the order, so such entries follow all others,
// by memory.
template <typename Entry>
int compareShown(const Entry& a, const Entry& b)
{
    const bool aNumber = !std::isnan(a.cpu);
    const bool bNumber = !std::isnan(b.cpu);
    if (aNumber != bNumber)
        return aNumber ? -1 : 1;
    if (aNumber && a.cpu != b.cpu)
        return a.cpu > b.cpu ? -1 : 1;
    if (a.memoryKB != b.memoryKB)
        return a.memoryKB > b.memoryKB ? -1 : 1;
    return 0;
}

} // namespace

void sortShown(std::vector<AppUsage>& apps)
{
    std::sort(apps.begin(), apps.end(),
              [](const AppUsage& a, const AppUsage& b) { return compareShown(a, b) < 0; });
}

void sortShown(std::vector<ProcessUsage>& processes)
{
    std::sort(processes.begin(), processes.end(), [](const ProcessUsage& a, const ProcessUsage& b) {
        const int order = compareShown(a, b);
        return order != 0 ? order < 0 : a.pid < b.pid;
    });
}

std::size_t Tally::add(const RunningApp* app, double cpu, std::int64_t memoryKB, std::int64_t count)
{
    std::size_t index = 0;
    if (!app) {
        if (systemEntry_ == SIZE_MAX) {
            const auto [it, added] = entryById_.emplace(systemEntryId, result_.apps.size());
            if (added)
                result_.apps.push_back(AppUsage{systemEntryId, systemEntryName, {}, 0, 0, 0});
            systemEntry_ = it->second;
        }
        index = systemEntry_;
    } else if (const auto known = entryByOwner_.find(app); known != entryByOwner_.end()) {
        index = known->second;
    } else {
        std::string key = keyOf(*app);
        const auto [it, added] = entryById_.emplace(key, result_.apps.size());
        if (added) {
            std::string name = app->localizedName ? *app->localizedName : key;
            result_.apps.push_back(AppUsage{std::move(key), std::move(name), app->icon, 0, 0, 0});
        }
        index = it->second;
        entryByOwner_.emplace(app, index);
    }
    AppUsage& entry = result_.apps[index];
    entry.cpu += cpu;
    entry.memoryKB = addSaturating(entry.memoryKB, memoryKB);
    entry.processCount = addSaturating(entry.processCount, count);
    result_.total += cpu;
    return index;
}

void Tally::addProcess(std::size_t entry, ProcessUsage process)
{
    if (processes_.size() <= entry)
        processes_.resize(entry + 1);
    processes_[entry].push_back(std::move(process));
}

void Tally::addProcesses(std::size_t entry, const std::vector<ProcessUsage>& processes)
{
    if (processes_.size() <= entry)
        processes_.resize(entry + 1);
    processes_[entry].insert(processes_[entry].end(), processes.begin(), processes.end());
}

void Tally::finish()
{
    if (detailed_) {
        processes_.resize(result_.apps.size());
        for (std::size_t i = 0; i < processes_.size(); ++i) {
            sortShown(processes_[i]);
            result_.apps[i].processes =
                std::make_shared<const std::vector<ProcessUsage>>(std::move(processes_[i]));
        }
        processes_.clear();
    }
    sortShown(result_.apps);
}

} // namespace ownership

Grouping group(const std::vector<PSRow>& rows, const AppsByPID& byPID,
               const AppsByPath& byBundlePath, const UnitsByPID& byUnit, bool detailed)
{
    std::unordered_map<std::int32_t, std::int32_t> parents;
    parents.reserve(rows.size());
    for (const PSRow& row : rows)
        parents.emplace(row.pid, row.ppid); // the first row of a pid wins
    const auto parentOf = [&parents](std::int32_t pid) -> const std::int32_t* {
        const auto it = parents.find(pid);
        return it == parents.end() ? nullptr : &it->second;
    };
    Grouping result;
    ownership::Tally tally(result, detailed);
    for (const PSRow& row : rows) {
        const std::size_t entry = tally.add(
            ownership::owner(row, byPID, byBundlePath, byUnit, parentOf), row.cpu, row.rssKB, 1);
        if (detailed)
            tally.addProcess(entry, ProcessUsage::of(row));
    }
    tally.finish();
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
