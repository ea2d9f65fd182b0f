// The desktop layer against the real cgroup2 hierarchy and the real process table, with processes
// of a uid no one has: a terminal's slice (a server unit, and a tab where an application with a
// child, a command and a shell named by an entry were started) and a session scope holding a
// launcher's children. Needs root; skips otherwise.
#include "cgroup_apps.h"
#include "cycle.h"
#include "desktop_applications.h"
#include "support/temp_dir.h"
#include "system_snapshot.h"

#include <cerrno>
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

std::string readText(const std::string& path)
{
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(RealCgroup, ApplicationsStartedFromATerminalOrALauncherGetTheirRows)
{
    const auto mount = cgroup2MountPoint(readText("/proc/self/mountinfo"));
    if (!mount || ::geteuid() != 0)
        GTEST_SKIP() << "needs cgroup2 and root";
    const std::uint32_t uid = 1'900'000'000u + ::getpid();
    const std::string u = std::to_string(uid), slice = "user.slice/user-" + u + ".slice";
    const std::string term = slice + "/user@" + u + ".service/app.slice/app-org.example.Term.slice";
    std::vector<std::string> made;
    for (const std::string& group : {term + "/app-org.example.Term-1.scope",
                                     term + "/vte-spawn-1.scope", slice + "/session-1.scope"}) {
        std::string path = *mount;
        for (const auto& part : std::filesystem::path(group))
            if (::mkdir((path += "/" + part.string()).c_str(), 0755) == 0)
                made.push_back(path);
    }
    ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    testing::TempDir tree;
    std::filesystem::permissions(tree.path(), std::filesystem::perms::all);
    const std::string writer = tree.path("opt/writer");
    tree.makeFolder("opt");
    for (const char* name : {"writer", "term-server", "launcher"}) // copies of a shell
        std::filesystem::copy_file("/bin/sh", tree.path(std::string("opt/") + name));
    for (const auto& [id, exec] :
         {std::pair{"Term", "term"}, {"Shell", "sh"}, {"Writer", writer.c_str()}})
        tree.write(std::string("data/applications/org.example.") + id + ".desktop",
                   std::string("[Desktop Entry]\nType=Application\nName=x\nExec=") + exec + "\n");
    // `program -c script` as that uid, moved into the cgroup before it runs anything.
    const auto start = [&](const std::string& group, const std::string& program,
                           const char* script) {
        if (::fork() == 0) {
            std::ofstream(*mount + "/" + group + "/cgroup.procs") << "0" << std::endl;
            if (::setresgid(uid, uid, uid) == 0 && ::setresuid(uid, uid, uid) == 0)
                ::execl(program.c_str(), program.c_str(), "-c", script, nullptr);
            ::_exit(127);
        }
    };
    const std::string app = writer + " -c 'sleep 1000 & wait' & ";
    start(term + "/app-org.example.Term-1.scope", tree.path("opt/term-server"),
          "sleep 1000 & wait");
    start(term + "/vte-spawn-1.scope", "/bin/sh",
          (app + "sleep 1000 & sh -c 'sleep 1000; :' & wait").c_str());
    start(slice + "/session-1.scope", tree.path("opt/launcher"),
          (app + "sleep 1000 & wait").c_str());

    DesktopSources sources;
    sources.cgroupRoot = *mount;
    sources.uid = uid;
    sources.environment.applicationFolders = {tree.path("data/applications")};
    DesktopApplications apps(std::move(sources));
    // server 2; tab: shell, command, sh and its sleep; writers 2 with a child each
    const std::map<std::string, std::int64_t> expected{{"org.example.Term", 6},
                                                       {"org.example.Writer", 4}};
    std::map<std::string, std::int64_t> counts;
    for (int tries = 0; tries < 100 && counts != expected; ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        counts.clear();
        for (const AppUsage& usage : runCycle(*makeSystemSnapshotter(), apps).apps)
            if (usage.id != systemEntryId)
                counts[usage.id] = usage.processCount;
    }
    EXPECT_EQ(counts, expected) << "the launcher and its plain child are nobody's";

    for (const std::string& group : made) // everything started dies with its cgroups
        for (const auto pid : parseCgroupProcs(readText(group + "/cgroup.procs")))
            ::kill(pid, SIGKILL);
    while (::waitpid(-1, nullptr, 0) > 0) {
    }
    for (auto it = made.rbegin(); it != made.rend(); ++it)
        for (int tries = 0; tries < 200 && ::rmdir(it->c_str()) != 0 && errno == EBUSY; ++tries)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

} // namespace
} // namespace corvel
