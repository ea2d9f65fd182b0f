#pragma once

// Idle child processes for tests and benchmarks that need a large process table. They pause
// until killed, and die with this process even if it is killed first.

#include <cstddef>
#include <sys/types.h>
#include <vector>

namespace corvel::testing {

class IdleChildren
{
public:
    explicit IdleChildren(std::size_t count = 0) { resize(count); }
    ~IdleChildren() { resize(0); }
    IdleChildren(const IdleChildren&) = delete;
    IdleChildren& operator=(const IdleChildren&) = delete;

    // Forks or kills and reaps children until there are `count`; stops early if fork fails.
    void resize(std::size_t count);
    std::size_t size() const { return pids_.size(); }
    const std::vector<pid_t>& pids() const { return pids_; }

private:
    std::vector<pid_t> pids_;
};

} // namespace corvel::testing
