#include "desktop_applications.h"

#include "small_file.h"

#include <unistd.h>

namespace corvel {

DesktopSources DesktopSources::forThisSession()
{
    DesktopSources sources;
    sources.cgroupRoot =
        cgroup2MountPoint(readSmallFile("/proc/self/mountinfo", 1 << 20).value_or("")).value_or("");
    sources.uid = static_cast<std::uint32_t>(::getuid());
    sources.environment = processDesktopEnvironment();
    sources.windows = makeX11Windows(sources.environment.display);
    return sources;
}

DesktopApplications::DesktopApplications(DesktopSources sources)
    : sources_(std::move(sources)),
      applications_(sources_.environment.applicationFolders, true, sources_.environment.locale,
                    sources_.indexTiming),
      autostart_(sources_.environment.autostartFolders, false, sources_.environment.locale,
                 sources_.indexTiming),
      programs_(sources_.procRoot, sources_.uid)
{
    if (!sources_.cgroupRoot.empty())
        cgroups_.emplace(sources_.cgroupRoot, sources_.procRoot, sources_.uid);
}

RunningApps DesktopApplications::list()
{
    return collect(nullptr, nullptr);
}

RunningApps DesktopApplications::listFor(const std::vector<RowPart>& parts, const GroupTree* groups)
{
    return collect(&parts, groups);
}

RunningApps DesktopApplications::collect(const std::vector<RowPart>* table, const GroupTree* groups)
{
    const auto now = EntryIndex::Clock::now();
    const bool newEntries = applications_.refresh(now);
    if (newEntries)
        programIndex_ = ProgramIndex(applications_.table(), sources_.environment.programFolders);
    autostart_.refresh(now);

    AppSightings seen;
    if (cgroups_)
        seen.units = cgroups_->scan(now, groups);
    if (sources_.windows) {
        seen.windows = sources_.windows->windows();
        // Where the panel is a managed window (GNOME), it is still no application of its own.
        std::erase_if(seen.windows,
                      [self = ::getpid()](const WindowInfo& window) { return window.pid == self; });
    }
    seen.applications = &applications_.table();
    seen.autostart = &autostart_.table();
    // The processes outside units (sessions without units, launchers' children) are listed
    // every third cycle where units hold most applications, to keep the cycle cheap.
    std::vector<std::int32_t> unitPids;
    for (const UnitProcesses& unit : seen.units)
        unitPids.insert(unitPids.end(), unit.pids.begin(), unit.pids.end());
    programs_.refresh(unitPids, seen.units.empty() || ++cycle_ % 3 == 1, table);
    // Matched again where read again, or all of them when the entries changed.
    const auto match = [&](std::int32_t pid, ProcessPrograms::Program& program) {
        program.app = program.path.empty() ? std::nullopt : programIndex_.match(program.path);
        if (program.app)
            claimed_.insert_or_assign(pid, *program.app);
        else
            claimed_.erase(pid);
    };
    for (const std::int32_t pid : programs_.forgotten())
        claimed_.erase(pid);
    if (newEntries) {
        claimed_.clear();
        for (auto& [pid, program] : programs_.programs())
            match(pid, program);
    } else {
        for (const std::int32_t pid : programs_.readNow())
            match(pid, programs_.programs().at(pid));
    }
    seen.programs.assign(claimed_.begin(), claimed_.end());
    return runningApps(seen);
}

std::unique_ptr<RunningApplications> makeDesktopApplications()
{
    return std::make_unique<DesktopApplications>(DesktopSources::forThisSession());
}

} // namespace corvel
