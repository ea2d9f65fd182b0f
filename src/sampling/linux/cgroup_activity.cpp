#include "cgroup_activity.h"

#include "kernel_text.h"
#include "small_file.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <unistd.h>

namespace corvel {

struct CgroupActivity::Node final : GroupNode
{
    std::uint64_t id = 0;
    std::uint64_t usage = 0;
    bool counted = false;      // usage was read at least once
    std::uint64_t movedIn = 0; // the generation of the last update that saw it move
};

CgroupActivity::Node& CgroupActivity::asNode(const std::unique_ptr<GroupNode>& node)
{
    return static_cast<Node&>(*node);
}

namespace {

UniqueFd openAt(int dirFd, const std::string& path, int flags)
{
    int fd = -1;
    do {
        fd = ::openat(dirFd, path.empty() ? "." : path.c_str(), flags | O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return UniqueFd(fd);
}

std::string join(const std::string& path, const char* name)
{
    return path.empty() ? std::string(name) : path + "/" + name;
}

// The names of the folders in `dir`, ascending.
bool listChildren(int dir, std::vector<std::string>& names)
{
    names.clear();
    if (!forEachEntry(dir, [&names](const FolderEntry& entry) {
            if (entry.isFolder())
                names.emplace_back(entry.name());
        }))
        return false;
    std::sort(names.begin(), names.end());
    return true;
}

} // namespace

CgroupActivity::CgroupActivity(std::string root) : root_(std::move(root)) {}

CgroupActivity::~CgroupActivity() = default;

bool CgroupActivity::update()
{
    cgroupsRead_ = 0;
    if (root_.empty())
        return false;
    if (!rootFd_.valid())
        rootFd_ = openAt(AT_FDCWD, root_, O_DIRECTORY);
    if (!rootFd_.valid())
        return false;
    if (!top_)
        top_ = std::make_unique<Node>();
    ++generation_;
    complete_ = true;
    listedNow_.clear();
    if (!visit(*top_, "", true)) {
        // Gone or never a cgroup tree: start afresh next time.
        forget(*top_);
        top_.reset();
        rootFd_.reset();
        return false;
    }
    std::sort(listedNow_.begin(), listedNow_.end());
    return true;
}

std::uint64_t CgroupActivity::groupOf(std::int32_t pid) const
{
    const auto it = members_.find(pid);
    return it == members_.end() || it->second == top_.get() ? 0 : it->second->id;
}

bool CgroupActivity::stillIdle(std::uint64_t group) const
{
    const auto it = nodes_.find(group);
    return it != nodes_.end() && it->second->movedIn != generation_;
}

const GroupNode& CgroupActivity::top() const
{
    return *top_;
}

bool CgroupActivity::listedIn(std::int32_t pid, const GroupNode& node) const
{
    const auto it = members_.find(pid);
    return it != members_.end() && it->second == &node;
}

bool CgroupActivity::idle(std::int32_t pid) const
{
    const auto it = members_.find(pid);
    return it != members_.end() && it->second->movedIn != generation_ && it->second != top_.get();
}

bool CgroupActivity::visit(Node& node, const std::string& path, bool top)
{
    ++cgroupsRead_;
    std::optional<std::uint64_t> usage;
    // The top always counts as moved: its own processes are read every time anyway.
    if (UniqueFd fd = top ? UniqueFd() : openAt(rootFd_.get(), join(path, "cpu.stat"), 0);
        fd.valid()) {
        char buffer[1024];
        const ssize_t n = readFromStart(fd.get(), buffer, sizeof buffer);
        if (n > 0)
            usage = parseCgroupUsage(std::string_view(buffer, static_cast<std::size_t>(n)));
    }
    if (usage && node.counted && *usage == node.usage && !top)
        return true; // nothing below ran
    node.usage = usage.value_or(0);
    node.counted = usage.has_value();
    node.movedIn = generation_;
    readMembers(node, path);

    std::vector<std::string> names;
    const UniqueFd dir = openAt(rootFd_.get(), path, O_DIRECTORY);
    if (!dir.valid() || !listChildren(dir.get(), names)) {
        if (top)
            return false;
        names.clear();
    }
    // Merge the listing with the known children, both ascending.
    std::vector<std::unique_ptr<GroupNode>> children;
    children.reserve(names.size());
    auto old = node.children.begin();
    for (std::string& name : names) {
        while (old != node.children.end() && (*old)->name < name)
            forget(asNode(*old++));
        if (old != node.children.end() && (*old)->name == name) {
            children.push_back(std::move(*old++));
        } else {
            auto child = std::make_unique<Node>();
            child->name = std::move(name);
            child->id = ++lastId_;
            nodes_[lastId_] = child.get();
            children.push_back(std::move(child));
        }
    }
    while (old != node.children.end())
        forget(asNode(*old++));
    node.children = std::move(children);
    for (const auto& child : node.children)
        visit(asNode(child), join(path, child->name.c_str()), false);
    return true;
}

void CgroupActivity::readMembers(Node& node, const std::string& path)
{
    pids_.clear();
    const UniqueFd fd = openAt(rootFd_.get(), join(path, "cgroup.procs"), 0);
    const bool readable = fd.valid() && readAll(fd.get(), text_, 16u << 20);
    complete_ = complete_ && readable;
    node.listed = readable;
    if (readable) {
        const char* at = text_.data();
        const char* end = at + text_.size();
        while (at < end) {
            std::int32_t pid = 0;
            const auto [next, ec] = std::from_chars(at, end, pid);
            if (ec == std::errc() && pid > 0)
                pids_.push_back(pid);
            at = std::find(next, end, '\n');
            at += at < end ? 1 : 0;
        }
    }
    // Unreadable (a threaded cgroup, no permission): its processes are never known idle.
    std::sort(pids_.begin(), pids_.end());
    for (const std::int32_t pid : node.pids) {
        const auto it = members_.find(pid);
        if (it != members_.end() && it->second == &node)
            members_.erase(it); // left since: listed again below if still here
    }
    for (const std::int32_t pid : pids_)
        members_[pid] = &node;
    listedNow_.insert(listedNow_.end(), pids_.begin(), pids_.end());
    node.pids.swap(pids_);
}

void CgroupActivity::forget(Node& node)
{
    nodes_.erase(node.id);
    for (const std::int32_t pid : node.pids) {
        const auto it = members_.find(pid);
        if (it != members_.end() && it->second == &node)
            members_.erase(it);
    }
    node.pids.clear();
    for (const auto& child : node.children)
        forget(asNode(child));
}

} // namespace corvel
