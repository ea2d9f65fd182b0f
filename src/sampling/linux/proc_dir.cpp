#include "proc_dir.h"

#include "text_rules.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <fcntl.h>
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
    if (!ensureOpen())
        return false;
    // One descriptor for the life of the reader, rewound each time: no DIR allocation.
    if (::lseek(rootFd_.get(), 0, SEEK_SET) != 0) {
        rootFd_.reset();
        return false;
    }
    const bool listed = forEachEntry(rootFd_.get(), [&pids](const FolderEntry& entry) {
        const char* name = entry.name();
        if (*name < '1' || *name > '9')
            return;
        if (const auto pid = parseInteger<std::int32_t>(name); pid && *pid > 0)
            pids.push_back(*pid);
    });
    if (!listed) {
        // A root that went away is reopened on the next call.
        rootFd_.reset();
        pids.clear();
        return false;
    }
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
