#pragma once

#include "small_file.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace corvel {

// An owned file descriptor.
class UniqueFd
{
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release();
    void reset();

private:
    int fd_ = -1;
};

// A process directory laid out as /proc: numeric entries, one per process, with files below.
// The root is opened once and kept; entries and files are reached relative to it.
class ProcDir
{
public:
    explicit ProcDir(std::string root);

    // The numeric entries, ascending. False, with `pids` empty, when the root cannot be read.
    bool listPids(std::vector<std::int32_t>& pids);

    // "<pid>/<name>" opened read-only and close-on-exec; invalid with errno set on failure.
    UniqueFd open(std::int32_t pid, const char* name);

private:
    bool ensureOpen();

    std::string root_;
    UniqueFd rootFd_;
};

} // namespace corvel
