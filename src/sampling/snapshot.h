#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace corvel {

// One process of a snapshot of the process table.
struct PSRow
{
    std::int32_t pid;
    std::int32_t ppid;
    double cpu;          // percent of one processor
    std::int64_t rssKB;  // resident memory, KiB
    std::string command; // whole command line, may be empty
};

// Rows of one snapshot in parts: those read this time (key 0), and apart those of each cgroup
// whose processes did not run, under a key no other part takes while it lasts. A part that
// hands over the very same rows object as at the previous snapshot holds the same rows.
struct RowPart
{
    std::uint64_t key = 0;
    std::shared_ptr<const std::vector<PSRow>> rows;
};

// Turns the text the process-status tool prints for "pid=,ppid=,pcpu=,rss=,command=" into
// rows, in line order. Lines that do not parse are dropped; ill-formed UTF-8 becomes U+FFFD.
std::vector<PSRow> parsePS(std::string_view output);

// Runs /bin/ps -axo pid=,ppid=,pcpu=,rss=,command= once and parses what it prints.
// Never fails: a tool that cannot be started gives an empty list.
std::vector<PSRow> runPS();

// Bounds on one run of the tool. The child is always reaped, whichever bound ends the run.
struct ToolLimits
{
    std::chrono::milliseconds timeout{10'000}; // then the tool is killed
    std::size_t maxOutputBytes{64u << 20};     // past this, reading stops and the tool is killed
};

// runPS() with another tool path and bounds, so tests can stand in scripts of their own.
std::vector<PSRow> runPS(const char* toolPath, const ToolLimits& limits);

} // namespace corvel
