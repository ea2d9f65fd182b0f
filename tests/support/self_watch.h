#pragma once

// What this process holds right now, read from /proc/self: the figures a long run must keep
// flat, and the children a test must not leave behind.

#include <cstdint>
#include <string>
#include <sys/types.h>

namespace corvel::testing {

struct Holdings
{
    int descriptors = 0;
    int threads = 0;
    std::int64_t residentKB = 0;
    std::int64_t heapKB = 0; // in live allocations, as the allocator counts them
    int children = 0;
    int zombieChildren = 0;
};

Holdings currentHoldings();
std::string describe(const Holdings& holdings);

// What /proc/<pid>/stat says after the process's name (" S 1 ..."); empty once it is gone.
std::string statAfterName(pid_t pid);

// Whether the allocator is a sanitizer's, whose resident size includes freed blocks it holds
// back on purpose.
bool sanitizedAllocator();

} // namespace corvel::testing
