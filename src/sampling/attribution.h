#pragma once

#include "snapshot.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace corvel {

enum class ActivationPolicy { regular, accessory, prohibited };

// Where an application's icon comes from: an icon-theme name or an absolute file path. The
// core only carries it; the interface turns it into an image.
struct IconRef
{
    std::string nameOrPath;
};
using IconHandle = std::shared_ptr<const IconRef>;

// What the desktop reports for one running application.
struct RunningApp
{
    std::int32_t processIdentifier = 0;    // its own process; 0 when known by unit or program only
    std::optional<std::string> bundlePath; // no trailing slash
    ActivationPolicy activationPolicy = ActivationPolicy::regular;
    std::optional<std::string> bundleIdentifier;
    std::optional<std::string> localizedName;
    IconHandle icon;
};
using RunningAppRef = std::shared_ptr<const RunningApp>;

// One process of an application, as listed under the application's entry.
struct ProcessUsage
{
    std::int32_t pid = 0;
    std::string program; // the program's name (programName of its command)
    double cpu = 0;      // percent of one processor
    std::int64_t memoryKB = 0;

    static ProcessUsage of(const PSRow& row)
    {
        return {row.pid, std::string(programName(row.command)), row.cpu, row.rssKB};
    }
};
using ProcessList = std::shared_ptr<const std::vector<ProcessUsage>>;

// One entry of the usage list.
struct AppUsage
{
    std::string id; // bundle identifier, else "pid<N>", else "__system"; unique within a list
    std::string name;
    IconHandle icon;
    double cpu = 0; // summed percent of one processor; may exceed 100
    std::int64_t memoryKB = 0;
    std::int64_t processCount = 0;
    // Only from a detailed grouping: every process counted here, in the order shown (as the
    // entries', then by pid); else null.
    ProcessList processes;
};

// Keys are compared as exact bytes: two spellings of a path in different Unicode
// normalisation forms are different keys.
using AppsByPID = std::unordered_map<std::int32_t, RunningAppRef>;
using AppsByPath = std::unordered_map<std::string, RunningAppRef>;

// A process in an application's unit (a cgroup the desktop made for it). `unit` tells two
// units apart, also two of the same application.
struct UnitMember
{
    RunningAppRef app;
    std::uint32_t unit = 0;
};
using UnitsByPID = std::unordered_map<std::int32_t, UnitMember>;

// What the desktop reports in one cycle: each running application once, in the order it lists
// them, and which processes it knows to belong to one.
struct RunningApps
{
    std::vector<RunningAppRef> apps; // each is also the own process of its processIdentifier
    AppsByPID byPID;                 // further processes that are an application themselves
    UnitsByPID byUnit;               // processes that run in an application's unit
};

struct Grouping
{
    std::vector<AppUsage> apps; // cpu descending, then memory descending
    double total = 0;           // plain sum of every row's cpu
};

inline constexpr const char* systemEntryId = "__system";
inline constexpr const char* systemEntryName = "System & Background";

// Attributes every row to the application that owns it and sums per application, saturating
// the integer sums. In order: its own process; the bundle path in its command line; the
// nearest of its twelve ancestors that is an application's own process, looking only inside
// the row's unit when it has one; its unit. `detailed`: each entry also lists its processes.
Grouping group(const std::vector<PSRow>& rows, const AppsByPID& byPID,
               const AppsByPath& byBundlePath, const UnitsByPID& byUnit = {},
               bool detailed = false);

// The lookup maps of one cycle: prohibited applications left out, later records replacing
// earlier ones under the same key, the desktop's own-process map last.
struct AppLookups
{
    AppsByPID byPID;
    AppsByPath byBundlePath;
    UnitsByPID byUnit;
};
AppLookups buildLookups(RunningApps running);

} // namespace corvel
