#include "mount_facts.h"

#include "kernel_text.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace corvel {

MountFacts readMountFacts(const std::string& procRoot, const std::optional<std::string>& cgroupRoot)
{
    const auto mounts =
        parseMountInfo(readSmallFile(procRoot + "/self/mountinfo", 1 << 20).value_or(""));
    MountFacts facts;
    for (const MountEntry& mount : mounts) {
        if (mount.type == "proc" && mount.mountPoint == procRoot)
            facts.hidden = procOptionsHideProcesses(mount.options);
    }
    // In a nested PID namespace /proc shows only the processes of ours.
    if (const auto status = readSmallFile(procRoot + "/self/status", 1 << 20))
        facts.hidden = facts.hidden || pidNamespaceDepth(*status) > 1;
    facts.cgroupRoot = cgroupRoot ? *cgroupRoot : mountPointOf(mounts, "cgroup2").value_or("");
    // The whole hierarchy, seen from the first cgroup namespace (its inode number is fixed):
    // then every process is listed in some cgroup.procs.
    char ns[64] = {};
    const bool firstNamespace =
        ::readlink((procRoot + "/self/ns/cgroup").c_str(), ns, sizeof ns - 1) > 0 &&
        std::string_view(ns) == "cgroup:[4026531835]";
    for (const MountEntry& mount : mounts) {
        if (mount.type == "cgroup2" && mount.mountPoint == facts.cgroupRoot)
            facts.wholeTree = mount.root == "/" && firstNamespace;
    }
    facts.wholeTree = facts.wholeTree || cgroupRoot.has_value();
    return facts;
}

MountWatch::MountWatch(const std::string& procRoot)
    : mountinfo_(::open((procRoot + "/self/mountinfo").c_str(), O_RDONLY | O_CLOEXEC))
{
    changed(); // reading it once arms the signal
}

bool MountWatch::changed()
{
    if (!mountinfo_.valid())
        return false;
    pollfd watch{mountinfo_.get(), POLLPRI, 0};
    int ready = -1;
    do {
        ready = ::poll(&watch, 1, 0);
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0 || !(watch.revents & (POLLPRI | POLLERR)))
        return false;
    // Read to the end: that clears the mark until the next change.
    std::string text;
    ::lseek(mountinfo_.get(), 0, SEEK_SET);
    readAll(mountinfo_.get(), text, 1 << 20);
    return true;
}

} // namespace corvel
