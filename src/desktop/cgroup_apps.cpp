#include "cgroup_apps.h"

#include "kernel_text.h"
#include "small_file.h"
#include "text_rules.h"

#include <deque>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvel {
namespace {

constexpr int maxWalkDepth = 6;   // user@.service/app.slice/app-x.slice/… is three deep
constexpr int maxSearchDepth = 5; // user.slice/user-UID.slice/user@UID.service, nested roots

bool isFolder(const std::string& path)
{
    struct stat st
    {
    };
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The names of the sub-cgroups of a folder.
std::vector<std::string> subfolders(const std::string& folder)
{
    std::vector<std::string> names;
    forEachEntry(folder, [&names](const FolderEntry& entry) {
        if (entry.isFolder())
            names.emplace_back(entry.name());
    });
    return names;
}

constexpr std::size_t maxProcsBytes = 4u << 20; // a million pids

std::string readFileAt(int folderFd, const char* name)
{
    return readSmallFile(folderFd, name, maxProcsBytes).value_or("");
}

std::string readFile(const std::string& path)
{
    return readSmallFile(path, maxProcsBytes).value_or("");
}

// The processes of a cgroup and of all its sub-cgroups. Syscalls are most of the cost of a
// cycle, so files are opened relative to their folder, and a folder whose link count says it
// has no subfolders (cgroupfs and tmpfs count 2 + subfolders) is not listed at all.
void collectPids(int parentFd, const char* name, int depth, std::vector<std::int32_t>& pids)
{
    const int fd = ::openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    for (std::int32_t pid : parseCgroupProcs(readFileAt(fd, "cgroup.procs")))
        pids.push_back(pid);
    struct stat st
    {
    };
    const bool leaf = ::fstat(fd, &st) == 0 && st.st_nlink == 2;
    if (!leaf && depth < maxWalkDepth) {
        forEachEntry(fd, [&](const FolderEntry& entry) {
            if (entry.isFolder())
                collectPids(fd, entry.name(), depth + 1, pids);
        });
    }
    ::close(fd);
}

} // namespace

std::optional<std::string> unifiedCgroupPath(std::string_view text)
{
    while (!text.empty()) {
        const std::string_view line = nextLine(text);
        if (!line.starts_with("0::/"))
            continue;
        std::string path(line.substr(3));
        while (path.size() > 1 && path.back() == '/')
            path.pop_back();
        return path;
    }
    return std::nullopt;
}

std::optional<std::string> userServicePrefix(std::string_view path, std::uint32_t uid)
{
    const std::string component = "/user@" + std::to_string(uid) + ".service";
    for (std::size_t at = path.find(component); at != std::string_view::npos;
         at = path.find(component, at + 1)) {
        const std::size_t end = at + component.size();
        if (end == path.size() || path[end] == '/')
            return std::string(path.substr(0, end));
    }
    return std::nullopt;
}

std::vector<std::int32_t> parseCgroupProcs(std::string_view text)
{
    std::vector<std::int32_t> pids;
    while (!text.empty()) {
        const auto pid = parseInt32(nextLine(text));
        if (pid && *pid > 0)
            pids.push_back(*pid);
    }
    return pids;
}

std::vector<std::int32_t> pidsInCgroup(const std::string& folder)
{
    std::vector<std::int32_t> pids;
    collectPids(AT_FDCWD, folder.c_str(), 0, pids);
    return pids;
}

std::optional<std::string> cgroup2MountPoint(std::string_view text)
{
    return mountPointOf(parseMountInfo(text), "cgroup2");
}

CgroupApps::CgroupApps(std::string cgroupRoot, std::string procRoot, std::uint32_t uid,
                       Clock::duration relocateEvery)
    : cgroupRoot_(std::move(cgroupRoot)), procRoot_(std::move(procRoot)), uid_(uid),
      relocateEvery_(relocateEvery)
{}

void CgroupApps::locate()
{
    userService_.clear();
    // Our own cgroup says where the user's service manager is, if we run under it.
    if (const auto own = unifiedCgroupPath(readFile(procRoot_ + "/self/cgroup")))
        if (const auto prefix = userServicePrefix(*own, uid_))
            if (isFolder(cgroupRoot_ + *prefix)) {
                userService_ = cgroupRoot_ + *prefix;
                return;
            }
    const std::string uid = std::to_string(uid_);
    const std::string usual =
        cgroupRoot_ + "/user.slice/user-" + uid + ".slice/user@" + uid + ".service";
    if (isFolder(usual)) {
        userService_ = usual;
        return;
    }
    // Elsewhere (a nested or unusual tree): breadth first, shallow.
    const std::string wanted = "user@" + uid + ".service";
    std::deque<std::pair<std::string, int>> queue{{cgroupRoot_, 0}};
    while (!queue.empty()) {
        auto [folder, depth] = queue.front();
        queue.pop_front();
        for (const std::string& name : subfolders(folder)) {
            if (name == wanted) {
                userService_ = folder + "/" + name;
                return;
            }
            if (depth + 1 < maxSearchDepth && name.ends_with(".slice"))
                queue.emplace_back(folder + "/" + name, depth + 1);
        }
    }
}

std::vector<UnitProcesses> CgroupApps::scan(Clock::time_point now)
{
    std::vector<UnitProcesses> units;
    const bool missing = userService_.empty() || !isFolder(userService_);
    if (missing && (!located_ || now - lastLocate_ >= relocateEvery_)) {
        locate();
        located_ = true;
        lastLocate_ = now;
    }
    if (!userService_.empty())
        walk(userService_, 0, units);
    return units;
}

void CgroupApps::walk(const std::string& folder, int depth, std::vector<UnitProcesses>& out) const
{
    const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0)
        return;
    for (const std::string& name : subfolders(folder)) {
        if (auto unit = parseAppUnit(name)) {
            UnitProcesses found{std::move(*unit), name, {}};
            collectPids(folderFd, name.c_str(), depth + 1, found.pids);
            if (!found.pids.empty())
                out.push_back(std::move(found));
        } else if (depth + 1 < maxWalkDepth) {
            walk(folder + "/" + name, depth + 1, out);
        }
    }
    ::close(folderFd);
}

} // namespace corvel
