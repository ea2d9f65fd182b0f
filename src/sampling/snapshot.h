#pragma once

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

// The program's name in a row's command, as a part of it: the last part of the first word's
// path, without a trailing colon ("sshd: alice" is sshd's); a kernel thread's "[name]" gives
// its name. Empty only for a command of spaces alone.
std::string_view programName(std::string_view command);

} // namespace corvel
