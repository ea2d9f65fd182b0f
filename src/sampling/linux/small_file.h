#pragma once

// Reading the small files of /proc, cgroupfs and the desktop's folders: one place that retries
// interrupted calls, reads past short reads and treats a file that vanished as unreadable.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>

namespace corvel {

// One read from offset 0, retried only when interrupted: the whole of a /proc text file that
// fits `size`. -1 with errno set on failure.
ssize_t readFromStart(int fd, char* buffer, std::size_t size);

// Reads `fd` to its end, at most `limit` bytes, into `out`. False when a read failed.
bool readAll(int fd, std::string& out, std::size_t limit);

// The whole of the file at `path` (relative to the open folder `folderFd`, or AT_FDCWD), or
// nothing when it cannot be opened or read, or holds more than `limit` bytes.
std::optional<std::string> readSmallFile(int folderFd, const char* path, std::size_t limit);
std::optional<std::string> readSmallFile(const std::string& path, std::size_t limit);

// One entry of a folder being listed.
class FolderEntry
{
public:
    FolderEntry(int dir, const char* name, unsigned char type, off_t next = 0)
        : dir_(dir), name_(name), type_(type), next_(next)
    {}
    const char* name() const { return name_; }
    // Where the listing goes on after it: the position to seek the folder to.
    off_t next() const { return next_; }
    // Whether it is a folder, or a link to one; the file system is asked only when the listing
    // does not say (a link, or a file system that leaves the type out).
    bool isFolder() const;

private:
    int dir_;
    const char* name_;
    unsigned char type_;
    off_t next_;
};

// The one way to list a folder: calls `entry` for each entry of the folder open at `dir`
// ("." and ".." left out), from where its descriptor stands, with no allocation per entry.
// False when listing failed.
bool forEachEntry(int dir, const std::function<void(const FolderEntry& entry)>& entry);
// The same for the folder at `path`; false also when it cannot be opened.
bool forEachEntry(const std::string& path,
                  const std::function<void(const FolderEntry& entry)>& entry);

// The target of a symbolic link relative to `folderFd`, or nothing.
std::optional<std::string> readLinkAt(int folderFd, const char* path);

} // namespace corvel
