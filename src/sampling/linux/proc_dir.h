#pragma once

#include "small_file.h"
#include "unique_fd.h"

#include <cstddef>
#include <cstdint>
#include <optional>
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
    // Those above `after` alone, where the root is a proc file system, whose listing goes on
    // from any pid at a position the last listPids() showed: the cost of the listing is that
    // of the processes it finds. False, with `pids` empty, elsewhere.
    bool listPidsAbove(std::int32_t after, std::vector<std::int32_t>& pids);

    // "<pid>/<name>" opened read-only and close-on-exec; invalid with errno set on failure.
    UniqueFd open(std::int32_t pid, const char* name);

private:
    bool ensureOpen();
    // From the position the root's descriptor is at; learns where pids start when `learn`.
    bool listFromHere(std::vector<std::int32_t>& pids, bool learn);

    std::string root_;
    UniqueFd rootFd_;
    std::optional<off_t> pidPosition_; // the position of pid 0, on a proc file system
};

} // namespace corvel
