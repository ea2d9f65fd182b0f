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

// Calls `entry` with the name and type (a dirent d_type) of each entry of the folder open at
// `dir`, from where its descriptor stands, with no allocation per call. False when listing
// failed.
bool forEachEntry(int dir, const std::function<void(const char* name, unsigned char type)>& entry);

// The target of a symbolic link relative to `folderFd`, or nothing.
std::optional<std::string> readLinkAt(int folderFd, const char* path);

} // namespace corvel
