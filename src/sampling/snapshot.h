#pragma once

#include <cstdint>
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

// Turns the text the process-status tool prints for "pid=,ppid=,pcpu=,rss=,command=" into
// rows, in line order. Lines that do not parse are dropped; ill-formed UTF-8 becomes U+FFFD.
std::vector<PSRow> parsePS(std::string_view output);

} // namespace corvel
