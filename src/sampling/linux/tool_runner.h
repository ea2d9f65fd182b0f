#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace corvel {

// Bounds on one run of a tool. The child is always reaped, whichever bound ends the run.
struct ToolLimits
{
    std::chrono::milliseconds timeout{10'000}; // then the tool is killed
    std::size_t maxOutputBytes{64u << 20};     // past this, reading stops and the tool is killed
};

// Starts `path` with `args` (argv[0] is the path) without a shell, its standard output in a
// pipe and standard error on /dev/null, and returns what it wrote. The child gets no
// descriptor of ours but that pipe, is killed when it outlives `limits.timeout` or writes more
// than `limits.maxOutputBytes`, and is reaped on every path. A child that cannot be started
// gives the empty text.
std::string captureOutput(const char* path, const std::vector<std::string>& args,
                          const ToolLimits& limits);

} // namespace corvel
