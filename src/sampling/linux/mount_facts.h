#pragma once

#include "proc_dir.h"

#include <optional>
#include <string>

namespace corvel {

// What the mounts and namespaces of a /proc tree tell the reader: where the cgroup tree is,
// whether it holds every process of the machine, and whether processes may be hidden from us.
struct MountFacts
{
    std::string cgroupRoot; // empty: no cgroup2 tree
    bool wholeTree = false; // every process of the machine is listed in some cgroup.procs
    bool hidden = false;    // the proc mount hides processes, or we live in a nested PID namespace

    bool operator==(const MountFacts&) const = default;
};

// Reads <procRoot>/self/mountinfo, ns/cgroup and status. `cgroupRoot` set: that tree, taken
// to be whole; empty: none.
MountFacts readMountFacts(const std::string& procRoot,
                          const std::optional<std::string>& cgroupRoot);

// Tells when the mount table changed: the kernel marks <procRoot>/self/mountinfo readable as
// an exception (POLLPRI) from a mount or unmount until it is read again. Files that are not a
// proc file system never signal, so a tree written by a test keeps its first facts.
class MountWatch
{
public:
    explicit MountWatch(const std::string& procRoot);
    // True once after each change; no waiting.
    bool changed();

private:
    UniqueFd mountinfo_;
};

} // namespace corvel
