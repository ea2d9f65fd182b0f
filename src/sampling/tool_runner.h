#pragma once

#include "snapshot.h"

#include <string>
#include <vector>

namespace corvel {

// Starts `path` with `args` (argv[0] is the path) without a shell, its standard output in a
// pipe and standard error on /dev/null, and returns what it wrote. The child gets no
// descriptor of ours but that pipe, is killed when it outlives `limits.timeout` or writes more
// than `limits.maxOutputBytes`, and is reaped on every path. A child that cannot be started
// gives the empty text.
std::string captureOutput(const char* path, const std::vector<std::string>& args,
                          const ToolLimits& limits);

} // namespace corvel
