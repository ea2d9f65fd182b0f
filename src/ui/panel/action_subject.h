#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace corvel {

// What the panel's actions act on: one row as it was when the user asked. `pids` are the
// processes counted in that row at that moment. The row "System & Background" has the id
// "__system"; Corvel's own row is the one whose pids contain getpid().
struct ActionSubject
{
    std::string appId;
    std::string name;
    std::vector<std::int32_t> pids;
};

} // namespace corvel
