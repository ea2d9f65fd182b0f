#include "cgroup_apps.h"

#include "kernel_text.h"
#include "small_file.h"
#include "text_rules.h"
#include "unique_fd.h"

#include <algorithm>
#include <deque>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvel {
namespace {

constexpr int maxWalkDepth = 6;   // user@.service/app.slice/app-x.slice/… is three deep
constexpr int maxSearchDepth = 5; // user.slice/user-UID.slice/user@UID.service, nested roots
constexpr std::size_t maxProcsBytes = 4u << 20; // a million pids

bool isFolder(const std::string& path)
{
    struct stat st
    {
    };
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The names of the sub-cgroups of a folder, ascending.
std::vector<std::string> subfolders(int folderFd)
{
    std::vector<std::string> names;
    forEachEntry(folderFd, [&names](const FolderEntry& entry) {
        if (entry.isFolder())
            names.emplace_back(entry.name());
    });
    std::sort(names.begin(), names.end());
    return names;
}

UniqueFd openFolder(int parentFd, const char* path)
{
    return UniqueFd(::openat(parentFd, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

// A cgroup on the file system. Syscalls are most of the cost of a walk, so files are opened
// relative to their folder, and a folder whose link count says it has no subfolders (cgroupfs
// and tmpfs count 2 + subfolders) is not listed at all.
class DiskFolder
{
public:
    explicit DiskFolder(UniqueFd fd) : fd_(std::move(fd)) {}
    bool valid() const { return fd_.valid(); }
    // Appends its processes; one that cannot be read has none.
    bool members(std::vector<std::int32_t>& pids) const
    {
        const auto text = readSmallFile(fd_.get(), "cgroup.procs", maxProcsBytes);
        for (const std::int32_t pid : parseCgroupProcs(text.value_or("")))
            pids.push_back(pid);
        return true;
    }
    template <class Visit>
    void forEachChild(const Visit& visit) const
    {
        struct stat st
        {
        };
        if (::fstat(fd_.get(), &st) == 0 && st.st_nlink == 2)
            return;
        for (const std::string& name : subfolders(fd_.get()))
            if (const DiskFolder child(openFolder(fd_.get(), name.c_str())); child.valid())
                visit(name, child);
    }

private:
    UniqueFd fd_;
};

// A cgroup as the sampler's last walk left it. False from members() where its last read
// failed: then nothing is known of them.
class TreeFolder
{
public:
    TreeFolder(const GroupTree& tree, const GroupNode& node) : tree_(tree), node_(node) {}
    bool members(std::vector<std::int32_t>& pids) const
    {
        for (const std::int32_t pid : node_.pids)
            if (tree_.listedIn(pid, node_)) // else moved since to a cgroup read later
                pids.push_back(pid);
        return node_.listed;
    }
    template <class Visit>
    void forEachChild(const Visit& visit) const
    {
        for (const auto& child : node_.children)
            visit(child->name, TreeFolder(tree_, *child));
    }

private:
    const GroupTree& tree_;
    const GroupNode& node_;
};

// The processes of a cgroup and of its sub-cgroups; false if some could not be known.
template <class Folder>
bool collectPids(const Folder& folder, int depth, std::vector<std::int32_t>& pids)
{
    bool known = folder.members(pids);
    if (depth < maxWalkDepth)
        folder.forEachChild([&](const std::string&, const Folder& child) {
            known = collectPids(child, depth + 1, pids) && known;
        });
    return known;
}

// The application units below `folder` with at least one process, in name order.
template <class Folder>
bool findUnits(const Folder& folder, int depth, std::vector<UnitProcesses>& out)
{
    bool known = true;
    folder.forEachChild([&](const std::string& name, const Folder& child) {
        if (auto unit = parseAppUnit(name)) {
            UnitProcesses found{std::move(*unit), name, {}};
            known = collectPids(child, depth + 1, found.pids) && known;
            std::sort(found.pids.begin(), found.pids.end());
            if (!found.pids.empty())
                out.push_back(std::move(found));
        } else if (depth + 1 < maxWalkDepth) {
            known = findUnits(child, depth + 1, out) && known;
        }
    });
    return known;
}

// The node at `path` ("/a/b"; "" is the top), if the tree has it.
const GroupNode* find(const GroupNode& top, std::string_view path)
{
    const GroupNode* node = &top;
    while (node && !path.empty()) {
        path.remove_prefix(1);
        const std::string_view name = path.substr(0, path.find('/'));
        path.remove_prefix(name.size());
        const auto& children = node->children;
        const auto it = std::lower_bound(
            children.begin(), children.end(), name,
            [](const auto& child, std::string_view wanted) { return child->name < wanted; });
        node = it != children.end() && (*it)->name == name ? it->get() : nullptr;
    }
    return node;
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
    if (const DiskFolder top(openFolder(AT_FDCWD, folder.c_str())); top.valid())
        collectPids(top, 0, pids);
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

void CgroupApps::locate(const Folders& folders)
{
    userService_.clear();
    // Our own cgroup says where the user's service manager is, if we run under it.
    const auto text = readSmallFile(procRoot_ + "/self/cgroup", maxProcsBytes);
    if (const auto own = unifiedCgroupPath(text.value_or("")))
        if (const auto prefix = userServicePrefix(*own, uid_); prefix && folders.exists(*prefix)) {
            userService_ = *prefix;
            return;
        }
    const std::string uid = std::to_string(uid_);
    const std::string usual = "/user.slice/user-" + uid + ".slice/user@" + uid + ".service";
    if (folders.exists(usual)) {
        userService_ = usual;
        return;
    }
    // Elsewhere (a nested or unusual tree): breadth first, shallow.
    const std::string wanted = "user@" + uid + ".service";
    std::deque<std::pair<std::string, int>> queue{{"", 0}};
    while (!queue.empty()) {
        auto [folder, depth] = queue.front();
        queue.pop_front();
        for (const std::string& name : folders.list(folder)) {
            if (name == wanted) {
                userService_ = folder + "/" + name;
                return;
            }
            if (depth + 1 < maxSearchDepth && name.ends_with(".slice"))
                queue.emplace_back(folder + "/" + name, depth + 1);
        }
    }
}

bool CgroupApps::found(Clock::time_point now, const Folders& folders)
{
    if (!userService_.empty() && folders.exists(userService_))
        return true;
    if (!located_ || now - lastLocate_ >= relocateEvery_) {
        locate(folders);
        located_ = true;
        lastLocate_ = now;
    }
    return !userService_.empty();
}

std::vector<UnitProcesses> CgroupApps::scan(Clock::time_point now, const GroupTree* groups)
{
    std::vector<UnitProcesses> units;
    if (groups && groups->root() == cgroupRoot_) {
        const GroupNode& top = groups->top();
        const Folders inTree{[&](const std::string& path) { return find(top, path) != nullptr; },
                             [&](const std::string& path) {
                                 std::vector<std::string> names;
                                 if (const GroupNode* node = find(top, path))
                                     for (const auto& child : node->children)
                                         names.push_back(child->name);
                                 return names;
                             }};
        const GroupNode* service = found(now, inTree) ? find(top, userService_) : nullptr;
        if (!service || findUnits(TreeFolder(*groups, *service), 0, units))
            return units;
        units.clear(); // a cgroup whose members the walk could not read: read them here
    }
    const Folders onDisk{[&](const std::string& path) { return isFolder(cgroupRoot_ + path); },
                         [&](const std::string& path) {
                             const UniqueFd fd = openFolder(AT_FDCWD, (cgroupRoot_ + path).c_str());
                             return fd.valid() ? subfolders(fd.get()) : std::vector<std::string>();
                         }};
    if (found(now, onDisk))
        if (const DiskFolder service(openFolder(AT_FDCWD, (cgroupRoot_ + userService_).c_str()));
            service.valid())
            findUnits(service, 0, units);
    return units;
}

} // namespace corvel
