#pragma once

#include "app_records.h"
#include "cgroup_apps.h"
#include "desktop_environment.h"
#include "entry_index.h"
#include "process_programs.h"
#include "program_index.h"
#include "sources.h"
#include "window_source.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace corvel {

// Where the desktop's applications are read from. Tests point every part at trees of their own.
struct DesktopSources
{
    std::string cgroupRoot; // where cgroup2 is mounted; empty: no application units
    std::string procRoot = "/proc";
    std::uint32_t uid = 0;
    DesktopEnvironment environment;
    EntryIndex::Timing indexTiming;
    std::unique_ptr<WindowSource> windows; // null: no windows

    // This session: cgroup2 where /proc/self/mountinfo says, the real uid, the process's
    // environment and its X display.
    static DesktopSources forThisSession();
};

// The running applications of the user's desktop session: the application units of the
// user's service manager, the user's processes whose program is an application's, and the X
// windows, named by their desktop entries. Used by one thread at a time; each list() reads the
// units, windows and process list afresh, a process's program when it is new (see
// ProcessPrograms), and the desktop entries only when their folders changed. listFor() takes
// the process list from the cycle's snapshot instead of listing /proc, and the units from its
// cgroup tree when it has one.
class DesktopApplications final : public RunningApplications
{
public:
    explicit DesktopApplications(DesktopSources sources);
    RunningApps list() override;
    RunningApps listFor(const std::vector<RowPart>& parts, const GroupTree* groups) override;

private:
    RunningApps collect(const std::vector<RowPart>* table, const GroupTree* groups);

    DesktopSources sources_;
    std::optional<CgroupApps> cgroups_;
    EntryIndex applications_;
    EntryIndex autostart_;
    ProgramIndex programIndex_;
    ProcessPrograms programs_;
    std::map<std::int32_t, std::string_view> claimed_; // processes whose program is an app's
    unsigned cycle_ = 0;
};

// The running applications of the current user's desktop session.
std::unique_ptr<RunningApplications> makeDesktopApplications();

} // namespace corvel
