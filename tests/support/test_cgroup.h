#pragma once

// A cgroup of the caller's own below the cgroup v2 mount, for tests and benchmarks on real
// cgroups (root only). Removed afterwards; its members are moved back to the top first.

#include <string>
#include <sys/types.h>

namespace corvel::testing {

class TestCgroup
{
public:
    explicit TestCgroup(const std::string& name);
    ~TestCgroup();
    TestCgroup(const TestCgroup&) = delete;
    TestCgroup& operator=(const TestCgroup&) = delete;

    // Empty when there is no cgroup2 mount or it may not be written; why() says which.
    const std::string& path() const { return path_; }
    const std::string& why() const { return why_; }
    bool add(pid_t pid) const;

private:
    std::string mount_, path_, why_;
};

} // namespace corvel::testing
