// The desktop layer over fixture trees: a cgroup2 tree, a /proc with the programs of the
// processes, XDG folders, a $PATH folder, and a stand-in window list.
#include "cycle.h"
#include "desktop_applications.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <map>
#include <set>
#include <unistd.h>

namespace corvel {
namespace {

using namespace std::chrono_literals;
using testing::TempDir;

// Our own uid, so that the fixture's process folders are the user's processes.
const std::uint32_t uid = ::getuid();
const std::string userService =
    "user.slice/user-" + std::to_string(uid) + ".slice/user@" + std::to_string(uid) + ".service";

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

class DesktopTreeTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const std::string app = "cgroup/" + userService + "/app.slice/";
        tree.write(app + "app-gnome-org.example.Editor-4242.scope/cgroup.procs", "101\n102\n");
        // nested sub-cgroups belong to the unit too
        tree.write(app + "app-gnome-org.example.Editor-4242.scope/renderer/gpu/cgroup.procs",
                   "103\n");
        // a terminal: its server, and a tab where programs of all kinds were started
        tree.write(app + "app-org.example.Terminal.slice/app-org.example.Terminal-9.scope/"
                         "cgroup.procs",
                   "202\n");
        tree.write(app + "app-org.example.Terminal.slice/vte-spawn-1.scope/cgroup.procs",
                   "201\n203\n204\n205\n206\n207\n208\n209\n210\n211\n212\n213\n");
        tree.write(app + "app-flatpak-org.example.Viewer-77.scope/cgroup.procs", "301\n");
        tree.write(app + "app-org.example.Tray@autostart.service/cgroup.procs", "401\n");
        tree.write(app + "app-gnome-org.example.Helper-5.scope/cgroup.procs", "501\n");
        tree.write(app + "app-gnome-org.example.NoEntry-6.scope/cgroup.procs", "601\n");
        tree.write(app + "app-gnome-org.gnome.Shell-7.scope/cgroup.procs", "701\n");
        tree.write(app + "app-gnome-org.example.Empty-8.scope/cgroup.procs", "");
        tree.write(app + "app-gnome-org.example.Junk-9.scope/cgroup.procs", "x\n-5\n0\n\n");
        tree.write(app + "not-an-app.service/cgroup.procs", "801\n");
        tree.write("cgroup/" + userService +
                       "/background.slice/"
                       "app-org.example.Sync@autostart.service/cgroup.procs",
                   "902\n");
        // another user's session is not ours
        tree.write("cgroup/user.slice/user-1001.slice/user@1001.service/app.slice/"
                   "app-gnome-org.example.Editor-1.scope/cgroup.procs",
                   "1001\n");
        tree.write("proc/self/cgroup", "0::/" + userService + "/app.slice/corvel.scope\n");

        // Programs: `paint` on $PATH is a link to the real binary.
        const std::string bin = tree.path("bin"), opt = tree.path("opt");
        tree.write("opt/paint-real", "");
        std::filesystem::permissions(opt + "/paint-real", std::filesystem::perms::owner_all);
        tree.makeFolder("bin");
        std::filesystem::create_symlink(opt + "/paint-real", bin + "/paint");
        // clang-format off
        const std::pair<std::int32_t, std::string> programs[] = {
        {101, "/usr/bin/editor"}, {201, "/bin/bash"}, {202, "/usr/libexec/term-server"},
        {203, opt + "/writer"}, {204, "/usr/bin/python3.11"}, {205, opt + "/paint-real"},
        {206, "/elsewhere/probe-bin"}, {207, "/opt/envtool (deleted)"},
        {208, "/usr/lib/suite/suite"}, {209, "/opt/twin"}, {210, "/usr/libexec/hidden-tool"},
        {211, "/usr/bin/topish"}, {212, "/usr/bin/flatpak"}, {213, "/usr/bin/viewer"},
        {950, "/usr/bin/xterm"}, {1101, opt + "/writer"}, {1102, "/usr/bin/dash"},
        };
        // clang-format on
        for (const auto& [pid, program] : programs) {
            tree.makeFolder("proc/" + std::to_string(pid));
            std::filesystem::create_symlink(program,
                                            tree.path("proc/" + std::to_string(pid) + "/exe"));
        }

        const auto add = [&](const std::string& id, const std::string& name,
                             const std::string& extra) {
            tree.write("data/applications/" + id + ".desktop", entry(name, extra));
        };
        add("org.example.Editor", "Editor", "Name[sr@latin]=Uređivač\nIcon=/opt/editor/icon.png\n");
        add("org.example.Terminal", "Terminal", "Icon=utilities-terminal\nExec=term\n");
        add("org.example.Viewer", "Viewer", "Icon=viewer\nExec=/usr/bin/viewer %U\n");
        add("org.example.Helper", "Helper", "NoDisplay=true\nExec=/usr/libexec/hidden-tool\n");
        add("xterm", "XTerm", "Exec=xterm\n");
        add("org.example.Writer", "Writer", "Exec=" + opt + "/writer %F\n"); // absolute
        add("org.example.Paint", "Paint", "Exec=paint %U\n");                // on $PATH
        add("org.example.Probe", "Probe", "Exec=sh -c probe-launch\nTryExec=probe-bin\n");
        add("org.example.Script", "Script", "Exec=/usr/bin/python3.11 /opt/s.py\n");
        add("org.example.Env", "Env", "Exec=env A=1 envtool %U\n");
        add("org.example.Suite", "Suite", "Exec=suite %U\n"); // runs it alone: wins the tie
        add("org.example.SuiteWriter", "Suite Writer", "Exec=suite --writer %U\n");
        add("org.example.TwinA", "Twin A", "Exec=/opt/twin --a\n");
        add("org.example.TwinB", "Twin B", "Exec=/opt/twin --b\n");
        add("org.example.Top", "Top", "Terminal=true\nExec=topish\n");
        add("org.example.Flat", "Flat", "Exec=/usr/bin/flatpak run org.example.Flat\n");
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
        s.environment.programFolders = {tree.path("nothing"), tree.path("bin")};
        s.environment.locale = std::move(locale);
        s.windows = std::make_unique<FixedWindows>(std::move(windows));
        return s;
    }

    // Each pid's application as attribution sees it first: own process, then unit.
    static std::map<std::int32_t, RunningAppRef> byPid(const RunningApps& running)
    {
        std::map<std::int32_t, RunningAppRef> out;
        for (const auto& [pid, member] : running.byUnit)
            out[pid] = member.app;
        for (const auto& record : running.apps)
            if (record->processIdentifier > 0)
                out[record->processIdentifier] = record;
        for (const auto& [pid, record] : running.byPID)
            out[pid] = record;
        std::set<std::string> ids;
        for (const auto& record : running.apps)
            EXPECT_TRUE(!record->bundleIdentifier || ids.insert(*record->bundleIdentifier).second)
                << *record->bundleIdentifier << " listed twice";
        return out;
    }

    static std::string idOf(const std::map<std::int32_t, RunningAppRef>& records, std::int32_t pid)
    {
        const auto it = records.find(pid);
        return it == records.end() ? "-" : it->second->bundleIdentifier.value_or("pid");
    }

    TempDir tree;
};

TEST_F(DesktopTreeTest, UnitsNameAndRankTheirProcesses)
{
    DesktopApplications apps(sources({}, "sr_RS.UTF-8@latin"));
    const auto records = byPid(apps.list());
    for (std::int32_t pid : {102, 103}) // nested sub-cgroups too; one record per application
        EXPECT_EQ(records.at(pid), records.at(101)) << pid;
    const RunningApp& editor = *records.at(101);
    EXPECT_EQ(editor.bundleIdentifier, "org.example.Editor");
    EXPECT_EQ(editor.localizedName, "Uređivač");
    EXPECT_EQ(editor.icon->nameOrPath, "/opt/editor/icon.png");
    EXPECT_EQ(editor.processIdentifier, 0);
    EXPECT_EQ(records.at(401)->localizedName, "Tray") << "autostart entries name autostart units";
    const std::pair<std::int32_t, ActivationPolicy> policies[] = {
        {101, ActivationPolicy::regular},    {401, ActivationPolicy::accessory},
        {902, ActivationPolicy::accessory},  {501, ActivationPolicy::accessory}, // NoDisplay
        {601, ActivationPolicy::prohibited},                                     // no entry
        {701, ActivationPolicy::prohibited},                                     // the shell
    };
    for (const auto& [pid, policy] : policies)
        EXPECT_EQ(records.at(pid)->activationPolicy, policy) << pid;
    EXPECT_FALSE(records.at(601)->localizedName || records.at(601)->icon);
    for (std::int32_t pid : {801, 1001})
        EXPECT_FALSE(records.count(pid)) << pid << " is in no app unit of this user";
}

// Which application each program in a terminal's tab, or outside any unit, is.
TEST_F(DesktopTreeTest, ProgramsClaimTheirProcessesConservatively)
{
    DesktopApplications apps(sources());
    const auto records = byPid(apps.list());
    const std::pair<std::int32_t, const char*> cases[] = {
        {201, "org.example.Terminal"}, // the tab's shell
        {202, "org.example.Terminal"}, // the server, whose program no entry runs
        {203, "org.example.Writer"},   // absolute Exec
        {204, "org.example.Terminal"}, // an interpreter claims nothing
        {205, "org.example.Paint"},    // Exec's name found on $PATH, through a link
        {206, "org.example.Probe"},    // TryExec, where Exec is a shell
        {207, "org.example.Env"},      // past "env", program replaced on disk
        {208, "org.example.Suite"},    // several entries, one runs it alone
        {209, "org.example.Terminal"}, // two entries run it with arguments: nobody's
        {210, "org.example.Terminal"}, // NoDisplay entries claim only through units and windows
        {211, "org.example.Terminal"}, // a terminal program stays with the terminal
        {212, "org.example.Terminal"}, // a wrapper
        {213, "org.example.Viewer"},   // a second instance of an application already running
        {1101, "org.example.Writer"},  // outside any unit
        {1102, "-"},
    };
    for (const auto& [pid, id] : cases)
        EXPECT_EQ(idOf(records, pid), id) << "pid " << pid;
    EXPECT_EQ(records.at(203)->localizedName, "Writer");
    EXPECT_EQ(records.at(203)->activationPolicy, ActivationPolicy::regular);

    // A wrapper is looked at again in the next cycles: it may exec the application it starts.
    std::filesystem::remove(tree.path("proc/212/exe"));
    std::filesystem::create_symlink(tree.path("opt/writer"), tree.path("proc/212/exe"));
    EXPECT_EQ(idOf(byPid(apps.list()), 212), "org.example.Writer");
}

TEST_F(DesktopTreeTest, WindowsAddAppsAndDecidePolicies)
{
    DesktopApplications apps(sources({
        {950, "xterm", "XTerm", WindowRole::taskbar}, // no unit: its program claims it
        {960, "tray-thing", "Tray-thing", WindowRole::skipsTaskbar},
        {970, "panel", "Panel", WindowRole::shell},
        {601, "noentry", "NoEntry", WindowRole::taskbar}, // unit without entry, with window
        {501, "helper", "Helper", WindowRole::taskbar},   // NoDisplay app showing a window
        {204, "script", "org.example.Script", WindowRole::taskbar}, // in the tab, by its window
        {202, "term", "org.example.Terminal", WindowRole::taskbar},
        {206, "tool", "org.example.Script", WindowRole::taskbar},   // windows of two classes:
        {206, "writer", "org.example.Writer", WindowRole::taskbar}, // its program decides
        {209, "twin", "org.example.Script", WindowRole::taskbar},
        {209, "writer", "org.example.Writer", WindowRole::taskbar}, // no program: the unit
    }));
    const auto records = byPid(apps.list());
    EXPECT_EQ(idOf(records, 950), "xterm");
    EXPECT_EQ(records.at(950)->activationPolicy, ActivationPolicy::regular);
    EXPECT_EQ(idOf(records, 960), "pid") << "no entry: the pid form applies";
    EXPECT_EQ(records.at(960)->localizedName, "Tray-thing") << "named by its WM_CLASS class";
    EXPECT_EQ(records.at(960)->activationPolicy, ActivationPolicy::accessory);
    EXPECT_EQ(records.at(970)->activationPolicy, ActivationPolicy::prohibited);
    EXPECT_EQ(idOf(records, 601), "org.example.NoEntry");
    EXPECT_EQ(records.at(601)->localizedName, "NoEntry");
    EXPECT_EQ(records.at(601)->activationPolicy, ActivationPolicy::regular);
    EXPECT_EQ(records.at(501)->activationPolicy, ActivationPolicy::regular);
    EXPECT_EQ(idOf(records, 204), "org.example.Script");
    EXPECT_EQ(idOf(records, 201), "org.example.Terminal");
    EXPECT_EQ(idOf(records, 206), "org.example.Probe");
    EXPECT_EQ(idOf(records, 209), "org.example.Terminal");
}

TEST_F(DesktopTreeTest, TheCycleMakesOneEntryPerApplicationWithItsHelpers)
{
    DesktopApplications apps(sources());
    FixedSnapshot snapshot({
        {101, 1, 10.0, 1000, "/usr/bin/editor"},
        {102, 101, 5.0, 500, "/usr/bin/editor --type=zygote"},
        {103, 102, 1.0, 100, "/usr/bin/editor --type=gpu"},
        {105, 103, 0.5, 50, "/usr/bin/editor-crashpad"}, // outside the unit: ancestor walk
        {202, 1, 1.0, 10, "term-server"},
        {201, 202, 1.0, 10, "bash"},
        {203, 201, 20.0, 2000, "writer"},
        {2031, 203, 20.0, 2000, "writer --helper"}, // not in the fixture's units: follows 203
        {601, 1, 3.0, 300, "/usr/bin/daemon"},      // prohibited: system
    });
    const Grouping result = runCycle(snapshot, apps);
    std::map<std::string, std::int64_t> counts;
    for (const AppUsage& usage : result.apps)
        counts[usage.id] = usage.processCount;
    EXPECT_EQ(counts, (std::map<std::string, std::int64_t>{{"org.example.Writer", 2},
                                                           {"org.example.Editor", 4},
                                                           {"org.example.Terminal", 2},
                                                           {systemEntryId, 1}}));
    EXPECT_EQ(result.apps[0].name, "Writer");
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
    EXPECT_EQ(idOf(records, 302), "org.example.Viewer");
}

TEST(DesktopTreeEdges, UnusualTreesAndMissingPartsListWhatTheyCan)
{
    TempDir tree;
    // The user service somewhere else (a container's nested tree), found by searching.
    tree.write("cgroup/machine.slice/box.slice/user@1000.service/app.slice/"
               "app-org.example.A-1.scope/cgroup.procs",
               "11\n");
    DesktopSources s;
    s.cgroupRoot = tree.path("cgroup");
    s.procRoot = tree.path("no-proc");
    s.uid = 1000;
    DesktopApplications nested(std::move(s));
    const auto found = nested.list();
    ASSERT_EQ(found.apps.size(), 1u);
    EXPECT_EQ(found.apps[0]->bundleIdentifier, "org.example.A");
    EXPECT_EQ(found.apps[0]->activationPolicy, ActivationPolicy::prohibited) << "no entries";
    EXPECT_EQ(found.byUnit.count(11), 1u);

    DesktopSources none;
    none.cgroupRoot = tree.path("does-not-exist");
    none.procRoot = tree.path("does-not-exist");
    none.environment.applicationFolders = {tree.path("nothing")};
    DesktopApplications empty(std::move(none));
    for (int cycle = 0; cycle < 2; ++cycle) {
        const RunningApps listed = empty.list();
        EXPECT_TRUE(listed.apps.empty() && listed.byPID.empty() && listed.byUnit.empty());
    }
}

} // namespace
} // namespace corvel
