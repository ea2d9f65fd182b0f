#include "desktop_applications.h"

#include <fcntl.h>
#include <unistd.h>

namespace corvel {
namespace {

std::string readSmall(const std::string& path, std::size_t limit)
{
    std::string text;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return text;
    char buffer[4096];
    ssize_t n;
    while (text.size() < limit && (n = ::read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<std::size_t>(n));
    ::close(fd);
    return text;
}

} // namespace

DesktopSources DesktopSources::forThisSession()
{
    DesktopSources sources;
    sources.cgroupRoot = cgroup2MountPoint(readSmall("/proc/self/mountinfo", 1 << 20)).value_or("");
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
                 sources_.indexTiming)
{
    if (!sources_.cgroupRoot.empty())
        cgroups_.emplace(sources_.cgroupRoot, sources_.procRoot, sources_.uid);
}

std::vector<RunningAppRef> DesktopApplications::list()
{
    const auto now = EntryIndex::Clock::now();
    applications_.refresh(now);
    autostart_.refresh(now);

    AppSightings seen;
    if (cgroups_)
        seen.units = cgroups_->scan(now);
    if (sources_.windows)
        seen.windows = sources_.windows->windows();
    seen.applications = &applications_.table();
    seen.autostart = &autostart_.table();
    seen.executableOf = [this](std::int32_t pid) { return executableOf(pid); };
    return runningAppRecords(seen, reuse_);
}

// argv[0]'s file name: what desktop entries' Exec names, even for scripts and wrappers.
std::optional<std::string> DesktopApplications::executableOf(std::int32_t pid) const
{
    const std::string cmdline =
        readSmall(sources_.procRoot + "/" + std::to_string(pid) + "/cmdline", 4096);
    const std::string_view program(cmdline.c_str()); // up to the first NUL
    if (program.empty())
        return std::nullopt;
    const std::size_t slash = program.rfind('/');
    const std::string_view name = slash == std::string_view::npos ? program : program.substr(slash + 1);
    if (name.empty())
        return std::nullopt;
    return std::string(name);
}

std::unique_ptr<RunningApplications> makeDesktopApplications()
{
    return std::make_unique<DesktopApplications>(DesktopSources::forThisSession());
}

} // namespace corvel
