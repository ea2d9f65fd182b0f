#include "small_file.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvel {

ssize_t readFromStart(int fd, char* buffer, std::size_t size)
{
    ssize_t n = -1;
    do {
        n = ::pread(fd, buffer, size, 0);
    } while (n < 0 && errno == EINTR);
    return n;
}

bool readAll(int fd, std::string& out, std::size_t limit)
{
    out.clear();
    char buffer[4096];
    while (out.size() < limit) {
        const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, limit - out.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;
        out.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
}

std::optional<std::string> readSmallFile(int folderFd, const char* path, std::size_t limit)
{
    int fd = -1;
    do {
        // Non-blocking: a FIFO put where a file was expected must not hang the cycle.
        fd = ::openat(folderFd, path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return std::nullopt;
    std::string text;
    // One byte past the limit tells a file that fits from one that does not.
    const bool read = readAll(fd, text, limit + 1);
    ::close(fd);
    if (!read || text.size() > limit)
        return std::nullopt;
    return text;
}

std::optional<std::string> readSmallFile(const std::string& path, std::size_t limit)
{
    return readSmallFile(AT_FDCWD, path.c_str(), limit);
}

std::optional<std::string> readLinkAt(int folderFd, const char* path)
{
    char buffer[PATH_MAX];
    ssize_t n = -1;
    do {
        n = ::readlinkat(folderFd, path, buffer, sizeof buffer);
    } while (n < 0 && errno == EINTR);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buffer)
        return std::nullopt;
    return std::string(buffer, static_cast<std::size_t>(n));
}

bool FolderEntry::isFolder() const
{
    if (type_ != DT_LNK && type_ != DT_UNKNOWN)
        return type_ == DT_DIR;
    struct stat st
    {
    };
    return ::fstatat(dir_, name_, &st, 0) == 0 && S_ISDIR(st.st_mode);
}

bool forEachEntry(const std::string& path,
                  const std::function<void(const FolderEntry& entry)>& entry)
{
    int dir = -1;
    do {
        dir = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } while (dir < 0 && errno == EINTR);
    if (dir < 0)
        return false;
    const bool listed = forEachEntry(dir, entry);
    ::close(dir);
    return listed;
}

bool forEachEntry(int dir, const std::function<void(const FolderEntry& entry)>& entry)
{
    alignas(dirent64) char buffer[32768];
    for (;;) {
        const ssize_t n = ::getdents64(dir, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        for (ssize_t offset = 0; offset < n;) {
            const auto* record = reinterpret_cast<const dirent64*>(buffer + offset);
            offset += record->d_reclen;
            const char* name = record->d_name;
            if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
                continue;
            entry(FolderEntry(dir, name, record->d_type, record->d_off));
        }
    }
}

} // namespace corvel
