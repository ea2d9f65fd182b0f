// The desktop layer against the real cgroup2 hierarchy and the real process table, with
// processes of a uid no one has: a terminal-like slice (a server unit and a tab scope in which
// an application with a child and a command were started), a session scope without units
// holding a launcher's children, and shells that must not claim. Needs the right to make
// cgroups and to change uid (root in CI); skips otherwise.
#include "cgroup_apps.h"
#include "cycle.h"
#include "desktop_applications.h"
#include "system_snapshot.h"
#include "temp_tree.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace corvel {
namespace {

namespace fs = std::filesystem;

std::string readText(const std::string& path)
{
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool writeText(const std::string& path, const std::string& text)
{
    std::ofstream out(path);
    out << text;
    out.flush();
    return static_cast<bool>(out);
}

class RealCgroupTest : public testing::Test
{
protected:
    void SetUp() override
    {
        const auto mount = cgroup2MountPoint(readText("/proc/self/mountinfo"));
        if (!mount)
            GTEST_SKIP() << "cgroup2 is not mounted here";
        if (::geteuid() != 0)
            GTEST_SKIP() << "making cgroups and changing uid need root";
        mount_ = *mount;
        uid_ = 1'900'000'000u + static_cast<std::uint32_t>(::getpid());
        const std::string u = std::to_string(uid_);
        const std::string slice = "user.slice/user-" + u + ".slice";
        const std::string terminal =
            slice + "/user@" + u + ".service/app.slice/app-org.example.Term.slice";
        for (const std::string& group :
             {terminal + "/app-org.example.Term-1.scope", terminal + "/vte-spawn-1.scope",
              slice + "/session-1.scope"})
            if (!makeCgroup(group))
                GTEST_SKIP() << "cannot make " << group << ": " << std::strerror(errno);
        ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
        fs::permissions(tree_.root(),
                        fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
        tree_.makeFolder("opt");
        for (const char* name : {"writer", "term-server", "launcher"}) // copies of a shell
            fs::copy_file("/bin/sh", tree_.path(std::string("opt/") + name));
        const auto add = [&](const std::string& id, const std::string& exec) {
            tree_.write("data/applications/" + id + ".desktop",
                        "[Desktop Entry]\nType=Application\nName=" + id + "\nExec=" + exec + "\n");
        };
        add("org.example.Term", "term");
        add("org.example.Writer", tree_.path("opt/writer") + " %F");
        add("org.example.Shell", "sh"); // an interpreter: claims nothing
    }

    // Everything the test started dies with its cgroups; as subreaper, we reap it all.
    void TearDown() override
    {
        for (const std::string& group : made_)
            for (const auto pid : parseCgroupProcs(readText(group + "/cgroup.procs")))
                ::kill(pid, SIGKILL);
        for (int attempt = 0; attempt < 200; ++attempt) {
            while (::waitpid(-1, nullptr, WNOHANG) > 0) {
            }
            if (errno == ECHILD)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        for (auto it = made_.rbegin(); it != made_.rend(); ++it)
            for (int attempt = 0; attempt < 200 && ::rmdir(it->c_str()) != 0 && errno == EBUSY;
                 ++attempt)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

    bool makeCgroup(const std::string& relative)
    {
        std::string path = mount_;
        for (const auto& part : fs::path(relative)) {
            path += "/" + part.string();
            if (::mkdir(path.c_str(), 0755) == 0)
                made_.push_back(path);
            else if (errno != EEXIST)
                return false;
        }
        return true;
    }

    // Starts `program -c script` as the test's uid inside `cgroup`, before it runs anything.
    void start(const std::string& cgroup, const std::string& program, const std::string& script)
    {
        int go[2];
        ASSERT_EQ(::pipe(go), 0);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            char byte = 0;
            if (::read(go[0], &byte, 1) != 1 || ::setresgid(uid_, uid_, uid_) != 0 ||
                ::setresuid(uid_, uid_, uid_) != 0)
                ::_exit(1);
            ::execl(program.c_str(), program.c_str(), "-c", script.c_str(), nullptr);
            ::_exit(127);
        }
        ::close(go[0]);
        ASSERT_TRUE(writeText(mount_ + "/" + cgroup + "/cgroup.procs", std::to_string(pid)));
        ASSERT_EQ(::write(go[1], "g", 1), 1);
        ::close(go[1]);
    }

    std::string mount_;
    std::uint32_t uid_ = 0;
    std::vector<std::string> made_;
    test::TempTree tree_;
};

TEST_F(RealCgroupTest, ApplicationsStartedFromATerminalOrALauncherGetTheirRows)
{
    const std::string u = std::to_string(uid_);
    const std::string terminal = "user.slice/user-" + u + ".slice/user@" + u +
                                 ".service/app.slice/app-org.example.Term.slice";
    const std::string writer = tree_.path("opt/writer");
    start(terminal + "/app-org.example.Term-1.scope", tree_.path("opt/term-server"),
          "sleep 1000 & wait");
    // The tab's shell, an application with a child, a command, and shells named by entries.
    start(terminal + "/vte-spawn-1.scope", "/bin/sh",
          writer + " -c 'sleep 1000 & wait' & sleep 1000 & sh -c 'sleep 1000; :' & wait");
    // A launcher in the session's scope: its children are an application and a plain program.
    start("user.slice/user-" + u + ".slice/session-1.scope", tree_.path("opt/launcher"),
          writer + " -c 'sleep 1000 & wait' & sleep 1000 & wait");

    DesktopSources sources;
    sources.cgroupRoot = mount_;
    sources.uid = uid_;
    sources.environment.applicationFolders = {tree_.path("data/applications")};
    DesktopApplications apps(std::move(sources));
    const auto snapshot = makeSystemSnapshotter();
    // server 2; tab: shell, command, sh and its sleep; writers 2 with a child each
    const std::map<std::string, std::int64_t> expected{{"org.example.Term", 6},
                                                       {"org.example.Writer", 4}};
    std::map<std::string, std::int64_t> counts;
    for (int attempt = 0; attempt < 100 && counts != expected; ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        counts.clear();
        for (const AppUsage& usage : runCycle(*snapshot, apps).apps)
            if (usage.id != systemEntryId)
                counts[usage.id] = usage.processCount;
    }
    EXPECT_EQ(counts, expected) << "the launcher and its plain child are nobody's";
}

} // namespace
} // namespace corvel
