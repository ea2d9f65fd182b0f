// The desktop layer over fixture trees: a cgroup2 tree, a /proc with the files it reads, XDG
// folders, and a stand-in window list.
#include "cycle.h"
#include "desktop_applications.h"
#include "temp_tree.h"

#include <map>

#include <gtest/gtest.h>

namespace corvel {
namespace {

using namespace std::chrono_literals;
using test::TempTree;

constexpr std::uint32_t uid = 1000;
const std::string userService = "user.slice/user-1000.slice/user@1000.service";

class FixedWindows final : public WindowSource
{
public:
    explicit FixedWindows(std::vector<WindowInfo> windows) : windows_(std::move(windows)) {}
    std::vector<WindowInfo> windows() override { return windows_; }

private:
    std::vector<WindowInfo> windows_;
};

class FixedSnapshot final : public ProcessSnapshotter
{
public:
    explicit FixedSnapshot(std::vector<PSRow> rows) : rows_(std::move(rows)) {}
    std::vector<PSRow> take() override { return rows_; }

private:
    std::vector<PSRow> rows_;
};

std::string entry(std::string_view name, std::string_view extra = {})
{
    return "[Desktop Entry]\nType=Application\nName=" + std::string(name) + "\n" +
           std::string(extra);
}

class DesktopTreeTest : public testing::Test
{
protected:
    void SetUp() override
    {
        const std::string app = "cgroup/" + userService + "/app.slice/";
        tree.write(app + "app-gnome-org.example.Editor-4242.scope/cgroup.procs", "101\n102\n");
        // nested sub-cgroups belong to the unit too
        tree.write(app + "app-gnome-org.example.Editor-4242.scope/renderer/cgroup.procs", "103\n");
        tree.write(app + "app-gnome-org.example.Editor-4242.scope/renderer/gpu/cgroup.procs",
                   "104\n");
        tree.write(app + "app-org.example.Terminal.slice/vte-spawn-1.scope/cgroup.procs", "201\n");
        tree.write(app + "app-org.example.Terminal.slice/app-org.example.Terminal-9.scope/"
                         "cgroup.procs",
                   "202\n");
        tree.write(app + "app-flatpak-org.example.Viewer-77.scope/cgroup.procs", "301\n");
        tree.write(app + "app-org.example.Tray@autostart.service/cgroup.procs", "401\n");
        tree.write(app + "app-gnome-org.example.Helper-5.scope/cgroup.procs", "501\n");
        tree.write(app + "app-gnome-org.example.NoEntry-6.scope/cgroup.procs", "601\n");
        tree.write(app + "app-gnome-org.gnome.Shell-7.scope/cgroup.procs", "701\n");
        tree.write(app + "app-gnome-org.example.Empty-8.scope/cgroup.procs", "");
        tree.write(app + "app-gnome-org.example.Junk-9.scope/cgroup.procs", "x\n-5\n0\n\n");
        tree.write(app + "not-an-app.service/cgroup.procs", "801\n");
        tree.write("cgroup/" + userService + "/session.slice/org.gnome.Shell@x11.service/"
                                             "cgroup.procs",
                   "901\n");
        tree.write("cgroup/" + userService + "/background.slice/"
                                             "app-org.example.Sync@autostart.service/cgroup.procs",
                   "902\n");
        // another user's session is not ours
        tree.write("cgroup/user.slice/user-1001.slice/user@1001.service/app.slice/"
                   "app-gnome-org.example.Editor-1.scope/cgroup.procs",
                   "1001\n");

        tree.write("proc/self/cgroup", "0::/" + userService + "/app.slice/corvel.scope\n");
        tree.write("proc/950/cmdline", std::string("/usr/bin/xterm\0-e\0sh\0", 19));
        tree.write("proc/960/cmdline", std::string("/usr/bin/tray-thing\0", 20));
        tree.write("proc/970/cmdline", std::string("/usr/bin/panel\0", 15));
        tree.write("proc/980/cmdline", ""); // a kernel thread: empty command line

        tree.write("data/applications/org.example.Editor.desktop",
                   entry("Editor", "Name[sr@latin]=Uređivač\nIcon=/opt/editor/icon.png\n"));
        tree.write("data/applications/org.example.Terminal.desktop",
                   entry("Terminal", "Icon=utilities-terminal\n"));
        tree.write("data/applications/org.example.Viewer.desktop", entry("Viewer", "Icon=viewer\n"));
        tree.write("data/applications/org.example.Helper.desktop",
                   entry("Helper", "NoDisplay=true\n"));
        tree.write("data/applications/xterm.desktop", entry("XTerm", "Exec=xterm\n"));
        tree.write("config/autostart/org.example.Tray.desktop", entry("Tray", "Icon=tray\n"));
        tree.write("config/autostart/org.example.Sync.desktop", entry("Sync"));
    }

    DesktopSources sources(std::vector<WindowInfo> windows = {}, std::string locale = "C")
    {
        DesktopSources s;
        s.cgroupRoot = tree.path("cgroup");
        s.procRoot = tree.path("proc");
        s.uid = uid;
        s.environment.applicationFolders = {tree.path("data/applications")};
        s.environment.autostartFolders = {tree.path("config/autostart")};
        s.environment.locale = std::move(locale);
        s.windows = std::make_unique<FixedWindows>(std::move(windows));
        return s;
    }

    static std::map<std::int32_t, RunningAppRef> byPid(const std::vector<RunningAppRef>& list)
    {
        std::map<std::int32_t, RunningAppRef> out;
        for (const auto& record : list)
            EXPECT_TRUE(out.emplace(record->processIdentifier, record).second)
                << "pid " << record->processIdentifier << " listed twice";
        return out;
    }

    TempTree tree;
};

TEST_F(DesktopTreeTest, EveryProcessOfAnAppUnitCarriesTheUnitsIdentity)
{
    DesktopApplications apps(sources({}, "sr_RS.UTF-8@latin"));
    const auto records = byPid(apps.list());

    for (std::int32_t pid : {101, 102, 103, 104}) {
        ASSERT_TRUE(records.count(pid)) << pid;
        const RunningApp& r = *records.at(pid);
        EXPECT_EQ(r.bundleIdentifier, "org.example.Editor");
        EXPECT_EQ(r.localizedName, "Uređivač");
        ASSERT_TRUE(r.icon);
        EXPECT_EQ(r.icon->nameOrPath, "/opt/editor/icon.png");
        EXPECT_EQ(r.activationPolicy, ActivationPolicy::regular);
        EXPECT_FALSE(r.bundlePath);
    }
    EXPECT_EQ(records.at(201)->bundleIdentifier, "org.example.Terminal") << "slice holds scopes";
    EXPECT_EQ(records.at(202)->bundleIdentifier, "org.example.Terminal");
    EXPECT_EQ(records.at(301)->localizedName, "Viewer");

    EXPECT_EQ(records.at(401)->localizedName, "Tray") << "autostart entries name autostart units";
    EXPECT_EQ(records.at(401)->activationPolicy, ActivationPolicy::accessory);
    EXPECT_EQ(records.at(902)->activationPolicy, ActivationPolicy::accessory);
    EXPECT_EQ(records.at(501)->activationPolicy, ActivationPolicy::accessory) << "NoDisplay";

    EXPECT_EQ(records.at(601)->activationPolicy, ActivationPolicy::prohibited) << "no entry";
    EXPECT_FALSE(records.at(601)->localizedName);
    EXPECT_FALSE(records.at(601)->icon);
    EXPECT_EQ(records.at(701)->activationPolicy, ActivationPolicy::prohibited) << "the shell";

    for (std::int32_t pid : {801, 901, 1001})
        EXPECT_FALSE(records.count(pid)) << pid << " is in no app unit of this user";
}

TEST_F(DesktopTreeTest, WindowsAddAppsAndDecidePolicies)
{
    DesktopApplications apps(sources({
        {950, "xterm", "XTerm", WindowRole::taskbar},          // no unit: matched by class id
        {960, "tray-thing", "Tray-thing", WindowRole::skipsTaskbar},
        {970, "panel", "Panel", WindowRole::shell},
        {980, "ghost", "Ghost", WindowRole::taskbar},          // pid of a kernel thread here
        {990, "gone", "Gone", WindowRole::taskbar},            // process already gone
        {601, "noentry", "NoEntry", WindowRole::taskbar},      // unit without entry, with window
        {501, "helper", "Helper", WindowRole::taskbar},        // NoDisplay app showing a window
    }));
    const auto records = byPid(apps.list());

    ASSERT_TRUE(records.count(950));
    EXPECT_EQ(records.at(950)->bundleIdentifier, "xterm");
    EXPECT_EQ(records.at(950)->localizedName, "XTerm");
    EXPECT_EQ(records.at(950)->activationPolicy, ActivationPolicy::regular);

    ASSERT_TRUE(records.count(960));
    EXPECT_FALSE(records.at(960)->bundleIdentifier) << "no entry: the pid form applies";
    EXPECT_EQ(records.at(960)->localizedName, "Tray-thing") << "named by its WM_CLASS class";
    EXPECT_EQ(records.at(960)->activationPolicy, ActivationPolicy::accessory);

    EXPECT_EQ(records.at(970)->activationPolicy, ActivationPolicy::prohibited);
    EXPECT_FALSE(records.count(980));
    EXPECT_FALSE(records.count(990));

    EXPECT_EQ(records.at(601)->bundleIdentifier, "org.example.NoEntry");
    EXPECT_EQ(records.at(601)->localizedName, "NoEntry");
    EXPECT_EQ(records.at(601)->activationPolicy, ActivationPolicy::regular);
    EXPECT_EQ(records.at(501)->activationPolicy, ActivationPolicy::regular);
}

TEST_F(DesktopTreeTest, TheCycleMakesOneEntryPerApplicationWithItsHelpers)
{
    DesktopApplications apps(sources());
    std::vector<PSRow> rows = {
        {101, 1, 10.0, 1000, "/usr/bin/editor"},
        {102, 101, 5.0, 500, "/usr/bin/editor --type=zygote"},
        {103, 102, 1.0, 100, "/usr/bin/editor --type=renderer"},
        {104, 102, 1.0, 100, "/usr/bin/editor --type=gpu"},
        {105, 104, 0.5, 50, "/usr/bin/editor-crashpad"}, // outside the unit: ancestor walk
        {601, 1, 3.0, 300, "/usr/bin/daemon"},          // prohibited: system
        {801, 1, 1.0, 100, "/usr/bin/other"},
    };
    FixedSnapshot snapshot(rows);
    const Grouping result = runCycle(snapshot, apps);
    ASSERT_EQ(result.apps.size(), 2u);
    EXPECT_EQ(result.apps[0].id, "org.example.Editor");
    EXPECT_EQ(result.apps[0].name, "Editor");
    EXPECT_EQ(result.apps[0].processCount, 5);
    EXPECT_EQ(result.apps[0].memoryKB, 1750);
    ASSERT_TRUE(result.apps[0].icon);
    EXPECT_EQ(result.apps[0].icon->nameOrPath, "/opt/editor/icon.png");
    EXPECT_EQ(result.apps[1].id, systemEntryId);
    EXPECT_EQ(result.apps[1].processCount, 2);
}

TEST_F(DesktopTreeTest, FindsTheUserServiceWithoutItsOwnCgroupAndFollowsChanges)
{
    // Our own cgroup outside the user's tree: the usual path is used.
    tree.write("proc/self/cgroup", "12:pids:/\n0::/system.slice/cron.service\n");
    DesktopApplications apps(sources());
    EXPECT_EQ(byPid(apps.list()).count(101), 1u);

    // A unit that ends and one that starts are seen at the next cycle.
    const std::string app = "cgroup/" + userService + "/app.slice/";
    std::filesystem::remove_all(tree.path(app + "app-flatpak-org.example.Viewer-77.scope"));
    tree.write(app + "app-gnome-org.example.Viewer-78.scope/cgroup.procs", "302\n");
    const auto records = byPid(apps.list());
    EXPECT_FALSE(records.count(301));
    ASSERT_TRUE(records.count(302));
    EXPECT_EQ(records.at(302)->bundleIdentifier, "org.example.Viewer");
}

TEST(DesktopTreeEdges, UnusualTreesAndMissingPartsListWhatTheyCan)
{
    TempTree tree;
    // The user service somewhere else (a container's nested tree), found by searching.
    tree.write("cgroup/machine.slice/box.slice/user@1000.service/app.slice/"
               "app-org.example.A-1.scope/cgroup.procs",
               "11\n");
    DesktopSources s;
    s.cgroupRoot = tree.path("cgroup");
    s.procRoot = tree.path("no-proc");
    s.uid = uid;
    DesktopApplications nested(std::move(s));
    const auto found = nested.list();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0]->bundleIdentifier, "org.example.A");
    EXPECT_EQ(found[0]->activationPolicy, ActivationPolicy::prohibited) << "no entries at all";

    DesktopSources none;
    none.cgroupRoot = tree.path("does-not-exist");
    none.procRoot = tree.path("does-not-exist");
    none.environment.applicationFolders = {tree.path("nothing")};
    DesktopApplications empty(std::move(none));
    EXPECT_TRUE(empty.list().empty());
    EXPECT_TRUE(empty.list().empty());
}

TEST_F(DesktopTreeTest, UnchangedRecordsAreTheSameObjectsNextCycle)
{
    DesktopApplications apps(sources());
    const auto first = byPid(apps.list());
    const auto second = byPid(apps.list());
    EXPECT_EQ(first.at(101).get(), second.at(101).get());
    EXPECT_EQ(first.at(401).get(), second.at(401).get());
}

} // namespace
} // namespace corvel
