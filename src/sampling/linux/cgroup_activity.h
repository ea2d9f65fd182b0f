#pragma once

#include "group_tree.h"
#include "proc_dir.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace corvel {

// Which processes certainly have not run since the last look, from a cgroup v2 tree. Every
// cgroup's cpu.stat counts the time its processes and those below it ran, so a cgroup whose
// count stands still holds only processes that did not run, its whole subtree too. Each
// update() walks from the top and goes down only where the count moved, reading the members
// (cgroup.procs) of moved cgroups alone. A process is born, execs and exits only by running,
// so those always show as a moved cgroup. The top cgroup's own processes (kernel threads) and
// those of cgroups that cannot be read are never known to be idle.
//
// Files are opened for each read, not kept: only the children of moved cgroups are read,
// a few dozen a cycle on a desktop, and kept ones would hold hundreds of descriptors.
//
// After a successful update() the tree it keeps is there to look at (GroupTree): the members
// of each cgroup from its last read, which the desktop layer takes its units from.
class CgroupActivity final : public GroupTree
{
public:
    // `root`: where cgroup2 is mounted; empty: no tree, nothing is known to be idle.
    explicit CgroupActivity(std::string root);
    ~CgroupActivity() override;

    // One walk. False when there is no tree or its top cannot be read.
    bool update();
    // Whether the last walk read the members of every cgroup it went into; then, with the
    // tree's own processes listed at the top, every process is listed somewhere.
    bool membersComplete() const { return complete_; }
    // Listed, at the last read of its cgroup, in a cgroup other than the top whose count has
    // not moved since.
    bool idle(std::int32_t pid) const;
    // The cgroup a process was listed in at the last read of that cgroup: an id no other
    // cgroup takes while the reader lives; 0 for the top and for processes listed nowhere.
    std::uint64_t groupOf(std::int32_t pid) const;
    // Whether that cgroup is still there and its count did not move in the last walk.
    bool stillIdle(std::uint64_t group) const;
    // The processes listed in the cgroups the last walk read, ascending: where every process
    // born since the walk before is.
    const std::vector<std::int32_t>& listedNow() const { return listedNow_; }

    const std::string& root() const override { return root_; }
    const GroupNode& top() const override;
    bool listedIn(std::int32_t pid, const GroupNode& node) const override;

    // Cgroups read by the last update(), for benchmarks.
    std::size_t cgroupsRead() const { return cgroupsRead_; }

private:
    struct Node;
    static Node& asNode(const std::unique_ptr<GroupNode>& node); // every node is one of ours
    bool visit(Node& node, const std::string& path, bool top);
    void forget(Node& node);
    void readMembers(Node& node, const std::string& path);

    std::string root_;
    UniqueFd rootFd_;
    std::unique_ptr<Node> top_;
    std::unordered_map<std::int32_t, const Node*> members_;
    std::unordered_map<std::uint64_t, const Node*> nodes_;
    std::uint64_t lastId_ = 0;
    std::vector<std::int32_t> listedNow_;
    std::uint64_t generation_ = 0;
    std::size_t cgroupsRead_ = 0;
    bool complete_ = false;
    std::string text_;               // scratch
    std::vector<std::int32_t> pids_; // scratch
};

} // namespace corvel
