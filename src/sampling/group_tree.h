#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace corvel {

// One group of processes of the machine's tree (on Linux a cgroup), as last read.
struct GroupNode
{
    virtual ~GroupNode() = default;

    std::string name;
    std::vector<std::int32_t> pids;                   // members at its last read, ascending
    bool listed = false;                              // that read succeeded
    std::vector<std::unique_ptr<GroupNode>> children; // ascending by name
};

// The tree of process groups a snapshotter looked at in its last take, lent to the desktop
// layer so that it need not read the tree again. A group is read again only when its
// processes ran; one that did not may still list a process that moved out of it since:
// listedIn() tells where the newest read placed each process. Valid until the next take.
class GroupTree
{
public:
    virtual ~GroupTree() = default;
    virtual const std::string& root() const = 0; // where the tree is mounted
    virtual const GroupNode& top() const = 0;
    virtual bool listedIn(std::int32_t pid, const GroupNode& node) const = 0;
};

} // namespace corvel
