#include "proc_dir.h"

#include "text_rules.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace corvel {

ProcDir::ProcDir(std::string root) : root_(std::move(root))
{
    ensureOpen();
}

bool ProcDir::ensureOpen()
{
    if (!rootFd_.valid())
        rootFd_ = UniqueFd(::open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return rootFd_.valid();
}

bool ProcDir::listPids(std::vector<std::int32_t>& pids)
{
    pids.clear();
    // One descriptor for the life of the reader, rewound each time: no DIR allocation.
    if (!ensureOpen() || ::lseek(rootFd_.get(), 0, SEEK_SET) != 0) {
        rootFd_.reset();
        return false;
    }
    return listFromHere(pids, true);
}

bool ProcDir::listPidsAbove(std::int32_t after, std::vector<std::int32_t>& pids)
{
    pids.clear();
    if (!pidPosition_ || !ensureOpen() ||
        ::lseek(rootFd_.get(), *pidPosition_ + after + 1, SEEK_SET) < 0)
        return false;
    if (listFromHere(pids, false) && (pids.empty() || pids.front() > after))
        return true;
    pidPosition_.reset(); // not as learnt: list it all again
    pids.clear();
    return false;
}

bool ProcDir::listFromHere(std::vector<std::int32_t>& pids, bool learn)
{
    // The kernel lists a process at the position of its pid plus a fixed offset, which each
    // entry's next position shows, being where the next process is.
    std::optional<off_t> position;
    bool steady = learn;
    std::size_t pairs = 0;
    off_t next = 0;
    const bool listed = forEachEntry(rootFd_.get(), [&](const FolderEntry& entry) {
        const char* name = entry.name();
        if (*name < '1' || *name > '9')
            return;
        const auto pid = parseInteger<std::int32_t>(name);
        if (!pid || *pid <= 0)
            return;
        if (steady && !pids.empty()) {
            steady = !position || *position == next - *pid;
            position = next - *pid;
            ++pairs;
        }
        next = entry.next();
        pids.push_back(*pid);
    });
    if (!listed) {
        // A root that went away is reopened on the next call.
        rootFd_.reset();
        pids.clear();
        return false;
    }
    struct statfs fs
    {
    };
    if (learn)
        pidPosition_ = steady && pairs >= 2 && ::fstatfs(rootFd_.get(), &fs) == 0 &&
                               fs.f_type == PROC_SUPER_MAGIC
                           ? position
                           : std::nullopt;
    // The kernel lists processes in ascending order; other trees may not.
    if (!std::is_sorted(pids.begin(), pids.end()))
        std::sort(pids.begin(), pids.end());
    pids.erase(std::unique(pids.begin(), pids.end()), pids.end());
    return true;
}

UniqueFd ProcDir::open(std::int32_t pid, const char* name)
{
    if (!ensureOpen())
        return UniqueFd();
    char path[64];
    char* end = std::to_chars(path, path + 16, pid).ptr;
    *end++ = '/';
    const std::size_t nameLength = std::char_traits<char>::length(name);
    if (nameLength >= static_cast<std::size_t>(path + sizeof path - end)) {
        errno = ENAMETOOLONG;
        return UniqueFd();
    }
    std::copy(name, name + nameLength + 1, end);
    int fd = -1;
    do {
        fd = ::openat(rootFd_.get(), path, O_RDONLY | O_CLOEXEC | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    return UniqueFd(fd);
}

} // namespace corvel
