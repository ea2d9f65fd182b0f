#pragma once

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
class CgroupActivity
{
public:
    // `root`: where cgroup2 is mounted; empty: no tree, nothing is known to be idle.
    explicit CgroupActivity(std::string root);
    ~CgroupActivity();

    // One walk. False when there is no tree or its top cannot be read.
    bool update();
    // Whether the last walk read the members of every cgroup it went into; then, with the
    // tree's own processes listed at the top, every process is in members().
    bool membersComplete() const { return complete_; }
    // Every process listed in the tree at the last read of its cgroup, ascending. Sorted again
    // only after a list changed, so that idle processes cost nothing here.
    const std::vector<std::int32_t>& members();
    // Listed, at the last read of its cgroup, in a cgroup other than the top whose count has
    // not moved since.
    bool idle(std::int32_t pid) const;

    // Cgroups read by the last update(), for benchmarks.
    std::size_t cgroupsRead() const { return cgroupsRead_; }

private:
    struct Node;
    bool visit(Node& node, const std::string& path, bool top);
    void forget(Node& node);
    void readMembers(Node& node, const std::string& path);

    std::string root_;
    UniqueFd rootFd_;
    std::unique_ptr<Node> top_;
    std::unordered_map<std::int32_t, const Node*> members_;
    std::vector<std::int32_t> sortedMembers_;
    bool membersChanged_ = true;
    std::uint64_t generation_ = 0;
    std::size_t cgroupsRead_ = 0;
    bool complete_ = false;
    std::string text_;               // scratch
    std::vector<std::int32_t> pids_; // scratch
};

} // namespace corvel
