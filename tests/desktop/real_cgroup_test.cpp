// The desktop layer against the real cgroup2 hierarchy and the real process table: an app
// unit made by the test, holding a child and a grandchild, named by a desktop entry of the
// test's own. Needs the right to make cgroups (root in CI); skips otherwise.
#include "cgroup_apps.h"
#include "cycle.h"
#include "desktop_applications.h"
#include "system_snapshot.h"
#include "temp_tree.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace corvel {
namespace {

std::string readAll(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
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
        const auto mount = cgroup2MountPoint(readAll("/proc/self/mountinfo"));
        if (!mount)
            GTEST_SKIP() << "cgroup2 is not mounted here";
        mount_ = *mount;
        if (::geteuid() != 0)
            GTEST_SKIP() << "making cgroups needs root";
        // A uid no one has, so that no real user's service manager is touched.
        uid_ = 1'900'000'000u + static_cast<std::uint32_t>(::getpid());
        const std::string u = std::to_string(uid_);
        std::string path = mount_;
        for (const std::string& part : std::vector<std::string>
             {"user.slice", "user-" + u + ".slice", "user@" + u + ".service", "app.slice",
              "app-gnome-org.example.Editor-4242.scope", "helpers"}) {
            path += "/" + part;
            if (::mkdir(path.c_str(), 0755) == 0) {
                made_.push_back(path);
            } else if (errno != EEXIST) {
                GTEST_SKIP() << "cannot make " << path << ": " << std::strerror(errno);
            }
        }
        scope_ = made_.size() >= 2 ? made_[made_.size() - 2] : std::string();
        if (scope_.empty())
            GTEST_SKIP() << "the unit folder existed already";
        ownCgroup_ = mount_ + unifiedCgroupPath(readAll("/proc/self/cgroup")).value_or("/");
    }

    void TearDown() override
    {
        for (const pid_t pid : {grandchild_, child_})
            if (pid > 0) {
                writeText(ownCgroup_ + "/cgroup.procs", std::to_string(pid));
                ::kill(pid, SIGKILL);
            }
        for (const pid_t pid : {child_, grandchild_})
            if (pid > 0)
                ::waitpid(pid, nullptr, 0); // the grandchild is ours once its parent is gone
        for (auto it = made_.rbegin(); it != made_.rend(); ++it)
            for (int attempt = 0; attempt < 100 && ::rmdir(it->c_str()) != 0 && errno == EBUSY;
                 ++attempt)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

    // A child that starts a grandchild and tells us its pid; both then wait to be killed.
    void startChildren()
    {
        ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        child_ = ::fork();
        ASSERT_GE(child_, 0);
        if (child_ == 0) {
            const pid_t grandchild = ::fork();
            if (grandchild == 0)
                for (;;)
                    ::pause();
            [[maybe_unused]] const auto n = ::write(fds[1], &grandchild, sizeof grandchild);
            for (;;)
                ::pause();
        }
        ::close(fds[1]);
        ASSERT_EQ(::read(fds[0], &grandchild_, sizeof grandchild_),
                  static_cast<ssize_t>(sizeof grandchild_));
        ::close(fds[0]);
        ASSERT_GT(grandchild_, 0);
    }

    std::string mount_;
    std::string ownCgroup_;
    std::string scope_;
    std::uint32_t uid_ = 0;
    std::vector<std::string> made_;
    pid_t child_ = -1;
    pid_t grandchild_ = -1;
};

TEST_F(RealCgroupTest, AnAppUnitBecomesOneEntryWithItsProcesses)
{
    startChildren();
    ASSERT_TRUE(writeText(scope_ + "/cgroup.procs", std::to_string(child_)));
    ASSERT_TRUE(writeText(scope_ + "/helpers/cgroup.procs", std::to_string(grandchild_)));

    test::TempTree tree;
    tree.write("data/applications/org.example.Editor.desktop",
               "[Desktop Entry]\nType=Application\nName=Example Editor\n"
               "Icon=accessories-text-editor\nExec=example-editor %F\n");
    DesktopSources sources;
    sources.cgroupRoot = mount_;
    sources.uid = uid_;
    sources.environment.applicationFolders = {tree.path("data/applications")};
    DesktopApplications apps(std::move(sources));

    const auto snapshot = makeSystemSnapshotter();
    const Grouping result = runCycle(*snapshot, apps);
    const AppUsage* editor = nullptr;
    for (const AppUsage& usage : result.apps)
        if (usage.id == "org.example.Editor")
            editor = &usage;
    ASSERT_TRUE(editor) << "no entry for the unit";
    EXPECT_EQ(editor->name, "Example Editor");
    EXPECT_EQ(editor->processCount, 2);
    ASSERT_TRUE(editor->icon);
    EXPECT_EQ(editor->icon->nameOrPath, "accessories-text-editor");

    // Once the processes have left the unit, the application is gone.
    writeText(ownCgroup_ + "/cgroup.procs", std::to_string(child_));
    writeText(ownCgroup_ + "/cgroup.procs", std::to_string(grandchild_));
    for (const AppUsage& usage : runCycle(*snapshot, apps).apps)
        EXPECT_NE(usage.id, "org.example.Editor");
}

} // namespace
} // namespace corvel
