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
#include <vector>

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
        made_.push_back(path_);
        if (path_.empty())
            return;
        for (const std::string& folder : made_) {
            std::ifstream members(folder + "/cgroup.procs");
            for (std::string pid; std::getline(members, pid);)
                std::ofstream(mount_ + "/cgroup.procs") << pid << "\n";
            // emptied a moment after its processes are reaped
            for (int tries = 0; ::rmdir(folder.c_str()) != 0 && errno == EBUSY && ++tries < 300;)
                ::usleep(10'000);
        }
    }
    TestCgroup(const TestCgroup&) = delete;
    TestCgroup& operator=(const TestCgroup&) = delete;

    // Empty when there is no cgroup2 mount or it may not be written; why() says which.
    const std::string& path() const { return path_; }
    const std::string& why() const { return why_; }
    // Makes the folders of `relative` ("a/b/c") below this cgroup; the innermost one, which
    // add() fills from then on.
    const std::string& nest(const std::string& relative)
    {
        nested_ = path_;
        for (const auto& part : std::filesystem::path(relative))
            if (std::filesystem::create_directory(nested_ += "/" + part.string()))
                made_.insert(made_.begin(), nested_); // deepest first
        return nested_;
    }
    bool add(pid_t pid) const
    {
        const std::string& folder = nested_.empty() ? path_ : nested_;
        return !path_.empty() && (std::ofstream(folder + "/cgroup.procs") << pid << "\n").flush();
    }

private:
    std::string mount_, path_, why_, nested_;
    std::vector<std::string> made_;
};

} // namespace corvel::testing
