#pragma once

// The attribution rule for one row, shared by a whole regrouping and by the cache that keeps
// idle cgroups' results.

#include "attribution.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace corvel::ownership {

inline constexpr std::string_view bundleMarker = ".app/";
inline constexpr int maxAncestors = 12;
inline constexpr std::int32_t lowestAncestorPid = 2;

inline const RunningApp* findIn(const AppsByPID& byPID, std::int32_t pid)
{
    const auto it = byPID.find(pid);
    return it == byPID.end() ? nullptr : it->second.get();
}

inline const UnitMember* unitOf(const UnitsByPID& byUnit, std::int32_t pid)
{
    const auto it = byUnit.find(pid);
    return it == byUnit.end() ? nullptr : &it->second;
}

// The running application that owns one process, or none. `parentOf(pid)` gives a pointer to
// the parent of a process in the table, null when the table does not hold it.
template <typename ParentOf>
const RunningApp* owner(const PSRow& row, const AppsByPID& byPID, const AppsByPath& byBundlePath,
                        const UnitsByPID& byUnit, ParentOf&& parentOf)
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
        const std::int32_t* parent = parentOf(ancestor);
        if (!parent)
            break;
        ancestor = *parent;
    }
    return unit ? unit->app.get() : nullptr;
}

// A usage list built in the order rows come, a row or a part's share at a time: entries are
// found by id, and the first record of an id names its entry. Detailed, each entry also
// collects its processes.
class Tally
{
public:
    explicit Tally(Grouping& result, bool detailed = false) : result_(result), detailed_(detailed)
    {}
    // `app` null: System & Background. Returns the entry's place, for its processes.
    std::size_t add(const RunningApp* app, double cpu, std::int64_t memoryKB, std::int64_t count);
    void addProcess(std::size_t entry, ProcessUsage process);
    void addProcesses(std::size_t entry, const std::vector<ProcessUsage>& processes);
    // Hands each entry its processes, in order, and puts the entries in the order shown.
    void finish();

private:
    Grouping& result_;
    bool detailed_;
    std::vector<std::vector<ProcessUsage>> processes_; // by entry, while detailed
    // The owner's record is remembered too, so that the id text is built once per
    // application, not once per row.
    std::unordered_map<std::string, std::size_t> entryById_;
    std::unordered_map<const RunningApp*, std::size_t> entryByOwner_;
    std::size_t systemEntry_ = SIZE_MAX;
};

// Sums of a snapshot's figures stay at the limit rather than wrap: rows from the
// process-status tool may carry any value.
std::int64_t addSaturating(std::int64_t a, std::int64_t b);

// An application's id in the list: its bundle identifier, else "pid<N>".
std::string keyOf(const RunningApp& app);

// The order shown: CPU share descending, exact ties by memory descending, shares that are not
// a number last; processes then by pid, so that any two groupings of the same rows agree.
void sortShown(std::vector<AppUsage>& apps);
void sortShown(std::vector<ProcessUsage>& processes);

} // namespace corvel::ownership
