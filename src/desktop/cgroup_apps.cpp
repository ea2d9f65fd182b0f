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
    // The folder at `path` below it ("/a/b"; "" itself), if there is one.
    std::optional<DiskFolder> at(const std::string& path) const
    {
        DiskFolder folder(openFolder(fd_.get(), path.empty() ? "." : path.c_str() + 1));
        return folder.valid() ? std::optional(std::move(folder)) : std::nullopt;
    }
    std::vector<std::string> names() const { return subfolders(fd_.get()); }
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
        for (const std::string& name : names())
            if (const DiskFolder child(openFolder(fd_.get(), name.c_str())); child.valid())
                visit(name, child);
    }

private:
    UniqueFd fd_;
};

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

// A cgroup as the sampler's last walk left it. False from members() where its last read
// failed: then nothing is known of them.
class TreeFolder
{
public:
    TreeFolder(const GroupTree& tree, const GroupNode& node) : tree_(tree), node_(node) {}
    std::optional<TreeFolder> at(const std::string& path) const
    {
        const GroupNode* node = find(node_, path);
        return node ? std::optional(TreeFolder(tree_, *node)) : std::nullopt;
    }
    std::vector<std::string> names() const
    {
        std::vector<std::string> names;
        for (const auto& child : node_.children)
            names.push_back(child->name);
        return names;
    }
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

template <class Folder>
std::string CgroupApps::locate(const Folder& top) const
{
    // Our own cgroup says where the user's service manager is, if we run under it.
    const auto text = readSmallFile(procRoot_ + "/self/cgroup", maxProcsBytes);
    if (const auto own = unifiedCgroupPath(text.value_or("")))
        if (const auto prefix = userServicePrefix(*own, uid_); prefix && top.at(*prefix))
            return *prefix;
    const std::string uid = std::to_string(uid_);
    const std::string usual = "/user.slice/user-" + uid + ".slice/user@" + uid + ".service";
    if (top.at(usual))
        return usual;
    // Elsewhere (a nested or unusual tree): breadth first, shallow.
    const std::string wanted = "user@" + uid + ".service";
    std::deque<std::pair<std::string, int>> queue{{"", 0}};
    while (!queue.empty()) {
        auto [path, depth] = queue.front();
        queue.pop_front();
        const auto folder = top.at(path);
        for (const std::string& name : folder ? folder->names() : std::vector<std::string>()) {
            if (name == wanted)
                return path + "/" + name;
            if (depth + 1 < maxSearchDepth && name.ends_with(".slice"))
                queue.emplace_back(path + "/" + name, depth + 1);
        }
    }
    return {};
}

template <class Folder>
std::optional<Folder> CgroupApps::userService(const Folder& top, Clock::time_point now)
{
    if (!userService_.empty())
        if (auto service = top.at(userService_))
            return service;
    if (located_ && now - lastLocate_ < relocateEvery_)
        return std::nullopt;
    located_ = true;
    lastLocate_ = now;
    userService_ = locate(top);
    return userService_.empty() ? std::nullopt : top.at(userService_);
}

std::vector<UnitProcesses> CgroupApps::scan(Clock::time_point now, const GroupTree* groups)
{
    std::vector<UnitProcesses> units;
    if (groups && groups->root() == cgroupRoot_) {
        const auto service = userService(TreeFolder(*groups, groups->top()), now);
        if (!service || findUnits(*service, 0, units))
            return units;
        units.clear(); // a cgroup whose members the walk could not read: read them here
    }
    if (const DiskFolder top(openFolder(AT_FDCWD, cgroupRoot_.c_str())); top.valid())
        if (const auto service = userService(top, now))
            findUnits(*service, 0, units);
    return units;
}

} // namespace corvel
