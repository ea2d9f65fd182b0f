#pragma once

// What this process holds right now, read from /proc/self: the figures a long run must keep
// flat.

#include <cstdint>
#include <string>

namespace corvel::testing {

struct Holdings
{
    int descriptors = 0;
    int threads = 0;
    std::int64_t residentKB = 0;
    std::int64_t heapKB = 0; // in live allocations: the allocator's own count
    int children = 0;
    int zombieChildren = 0;
};

Holdings currentHoldings();

// Whether the allocator is a sanitizer's, whose resident size includes freed blocks it holds
// back on purpose.
bool sanitizedAllocator();

// Open descriptors of this process, not counting the one used to list them.
int openDescriptors();

// "descriptors 12, threads 3, resident 45678 KiB, heap 2345 KiB, children 0 (0 zombies)"
std::string describe(const Holdings& holdings);

} // namespace corvel::testing
