#pragma once

// The process table as the process-status tool prints it.

#include "sources.h"
#include "tool_runner.h"

#include <string>
#include <vector>

namespace corvel {

// Runs /bin/ps -axo pid=,ppid=,pcpu=,rss=,command= once and parses what it prints.
// Never fails: a tool that cannot be started gives an empty list.
std::vector<PSRow> runPS();

// runPS() with another tool path and bounds, so tests can stand in scripts of their own.
std::vector<PSRow> runPS(const char* toolPath, const ToolLimits& limits);

// Runs the process-status tool every time. A run that lists no process failed: the tool
// always lists at least itself.
class PSToolSnapshotter final : public ProcessSnapshotter
{
public:
    explicit PSToolSnapshotter(std::string tool = "/bin/ps") : tool_(std::move(tool)) {}
    std::vector<PSRow> take() override;

private:
    std::string tool_;
};

} // namespace corvel
