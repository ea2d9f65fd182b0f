#pragma once

// A cgroup of the caller's own below the cgroup v2 mount, for tests and benchmarks on real
// cgroups (root only). Removed afterwards; its members are moved back to the top first.

#include "kernel_text.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace corvel::testing {

class TestCgroup
{
public:
    explicit TestCgroup(const std::string& name)
    {
        std::stringstream mountinfo;
        mountinfo << std::ifstream("/proc/self/mountinfo").rdbuf();
        mount_ = mountPointOf(parseMountInfo(mountinfo.str()), "cgroup2").value_or("");
        path_ = mount_ + "/corvel-" + name + "-" + std::to_string(::getpid());
        if (mount_.empty())
            why_ = "no cgroup2 mount";
        else if (::mkdir(path_.c_str(), 0755) != 0 && errno != EEXIST)
            why_ = "cannot make a cgroup in " + mount_ + ": " + std::strerror(errno);
        path_.resize(why_.empty() ? path_.size() : 0);
    }
    ~TestCgroup()
    {
        for (std::string folder = nested_.empty() ? path_ : nested_;
             !path_.empty() && folder.size() >= path_.size(); folder.resize(folder.rfind('/'))) {
            std::ifstream members(folder + "/cgroup.procs");
            for (std::string pid; std::getline(members, pid);)
                std::ofstream(mount_ + "/cgroup.procs") << pid << "\n";
            ::rmdir(folder.c_str());
        }
    }
    TestCgroup(const TestCgroup&) = delete;
    TestCgroup& operator=(const TestCgroup&) = delete;

    // Empty when there is no cgroup2 mount or it may not be written; why() says which.
    const std::string& path() const { return path_; }
    const std::string& why() const { return why_; }
    // Makes the folders of `relative` ("a/b/c") below this cgroup, once; the innermost one.
    const std::string& nest(const std::string& relative)
    {
        std::error_code ignored;
        std::filesystem::create_directories(nested_ = path_ + "/" + relative, ignored);
        return nested_;
    }
    // Into the innermost folder.
    bool add(pid_t pid) const
    {
        const std::string& folder = nested_.empty() ? path_ : nested_;
        return !path_.empty() && (std::ofstream(folder + "/cgroup.procs") << pid << "\n").flush();
    }

private:
    std::string mount_, path_, why_, nested_;
};

} // namespace corvel::testing
