#pragma once

#include "small_file.h"
#include "unique_fd.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace corvel {

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
