#include "support/test_cgroup.h"

#include "kernel_text.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace corvel::testing {

TestCgroup::TestCgroup(const std::string& name)
{
    std::stringstream mountinfo;
    mountinfo << std::ifstream("/proc/self/mountinfo").rdbuf();
    mount_ = mountPointOf(parseMountInfo(mountinfo.str()), "cgroup2").value_or("");
    if (mount_.empty()) {
        why_ = "no cgroup2 mount";
        return;
    }
    const std::string path = mount_ + "/corvel-" + name + "-" + std::to_string(::getpid());
    if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST)
        why_ = "cannot make a cgroup in " + mount_ + ": " + std::strerror(errno);
    else
        path_ = path;
}

TestCgroup::~TestCgroup()
{
    if (path_.empty())
        return;
    std::ifstream members(path_ + "/cgroup.procs");
    for (std::string pid; std::getline(members, pid);)
        std::ofstream(mount_ + "/cgroup.procs") << pid << "\n";
    ::rmdir(path_.c_str());
}

bool TestCgroup::add(pid_t pid) const
{
    std::ofstream procs(path_ + "/cgroup.procs");
    procs << pid << "\n";
    procs.flush();
    return !path_.empty() && procs.good();
}

} // namespace corvel::testing
