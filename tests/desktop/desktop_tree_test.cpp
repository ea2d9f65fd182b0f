// The desktop layer over one fixture tree: cgroups, /proc, XDG folders, $PATH and windows.
#include "cycle.h"
#include "desktop_applications.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <unistd.h>

namespace corvel {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// Our own uid, so that the fixture's process folders are the user's processes.
const std::string uid = std::to_string(::getuid());
const std::string userService = "user.slice/user-" + uid + ".slice/user@" + uid + ".service/";

struct FixedWindows final : WindowSource
{
    explicit FixedWindows(std::vector<WindowInfo> w) : list(std::move(w)) {}
    std::vector<WindowInfo> windows() override { return list; }
    std::vector<WindowInfo> list;
};

// An entry's text: its other keys come first, so that a Name among them wins.
std::string entry(std::string_view name, std::string_view extra = {})
{
    return "[Desktop Entry]\nType=Application\n" + std::string(extra) +
           "\nName=" + std::string(name) + "\n";
}

class DesktopTreeTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // Units below the user's app.slice: a nested one; a terminal's server, and a tab where
        // programs of all kinds were started; another user's app (not ours).
        const std::string g = "app-gnome-org.example.", t = "app-org.example.Terminal.slice/";
        // clang-format off
        const std::pair<std::string, const char*> units[] = {
            {g + "Editor-4242.scope", "101\n102"}, {g + "Editor-4242.scope/renderer/gpu", "103"},
            {t + "app-org.example.Terminal-9.scope", "202"}, {"not-an-app.service", "801"},
            {t + "vte-spawn-1.scope", "201\n203\n204\n205\n206\n207\n208\n209\n210\n211\n212\n213"},
            {"app-flatpak-org.example.Viewer-77.scope", "301"}, {g + "Helper-5.scope", "501"},
            {"app-org.example.Tray@autostart.service", "401"}, {g + "NoEntry-6.scope", "601"},
            {"app-gnome-org.gnome.Shell-7.scope", "701"}, {g + "Junk-9.scope", "x\n-5\n0\n\n"},
            {"../background.slice/app-org.example.Sync@autostart.service", "902"},
            {"../../../user-1001.slice/user@1001.service/app.slice/" + g + "E-1.scope", "1001"}};
        for (const auto& [unit, pids] : units)
            tree.write("cgroup/" + userService + "app.slice/" + unit + "/cgroup.procs", pids);
        tree.write("proc/self/cgroup", "0::/" + userService + "app.slice/corvel.scope\n");

        // Programs: `paint` on $PATH is a link to the real binary.
        const std::string opt = tree.path("opt");
        fs::create_symlink(tree.writeScript("opt/paint-real", ""),
                           tree.makeFolder("bin") / "paint");
        const std::pair<std::int32_t, std::string> programs[] = {
        {101, "/usr/bin/editor"}, {201, "/bin/bash"}, {202, "/usr/libexec/term-server"},
        {203, opt + "/writer"}, {204, "/usr/bin/python3.11"}, {205, opt + "/paint-real"},
        {206, "/elsewhere/probe-bin"}, {207, "/opt/envtool (deleted)"},
        {208, "/usr/lib/suite/suite"}, {209, "/opt/twin"}, {210, "/usr/libexec/hidden-tool"},
        {211, "/usr/bin/topish"}, {212, "/usr/bin/flatpak"}, {213, "/usr/bin/viewer"},
        {950, "/usr/bin/xterm"}, {1101, opt + "/writer"}, {1102, "/usr/bin/dash"}};
        for (const auto& [pid, program] : programs)
            fs::create_symlink(program, tree.makeFolder("proc/" + std::to_string(pid)) / "exe");

        // Entries: file (apps/org.example.* unless a folder is named), keys; Name is the file's last
        // word unless given. The first folder wins: home's Paint, Hidden Gone, kde/dolphin (id
        // kde-dolphin). Exec absolute (Writer), on $PATH (Paint); Suite runs it alone: wins the tie.
        const std::string entries[] = {
        "apps/gimp Name=GIMP;StartupWMClass=Gimp-2.10;Exec=gimp-2.10 %U", "apps/org.gnome.Shell",
        "Helper NoDisplay=true;Exec=/usr/libexec/hidden-tool", "SuiteWriter Exec=suite --writer %U",
        "home/org.example.Paint Name=My Paint;Exec=paint %U", "home/org.example.Gone Hidden=true",
        "Editor Name[sr@latin]=Uređivač;Icon=/opt/ed.png", "autostart/org.example.Tray Icon=tray",
        "Probe Exec=sh -c probe-launch;TryExec=probe-bin", "Writer Exec=" + opt + "/writer %F",
        "Flat Exec=/usr/bin/flatpak run org.example.Flat", "apps/xterm Name=XTerm;Exec=xterm",
        "Terminal Icon=utilities-terminal;Exec=term", "Viewer Icon=viewer;Exec=/usr/bin/viewer %U",
        "Script Exec=/usr/bin/python3.11 /opt/s.py", "Top Terminal=true;Exec=topish", "Gone",
        "home/kde/dolphin Name=Dolphin", "Env Exec=env A=1 envtool %U", "TwinA Exec=/opt/twin --a",
        "autostart/org.example.Sync", "TwinB Exec=/opt/twin --b", "Paint Exec=paint %U",
        "Suite Exec=suite %U", "apps/kde-dolphin"};
        // clang-format on
        for (std::string line : entries) {
            const std::string file = line.substr(0, line.find(' '));
            std::replace(line.begin(), line.end(), ';', '\n');
            tree.write((file.find('/') == file.npos ? "apps/org.example." : "") + file + ".desktop",
                       entry(file.substr(file.find_last_of("./") + 1),
                             line.substr(std::min(line.size(), file.size() + 1))));
        }
        tree.write("apps/readme.txt", "not an entry");
        tree.write("apps/broken.desktop", "garbage without a group");
        tree.ageFolders();
    }

    DesktopSources sources(std::vector<WindowInfo> windows = {}, std::string locale = "C")
    {
        return {.cgroupRoot = tree.path("cgroup"),
                .procRoot = tree.path("proc"),
                .uid = ::getuid(),
                .environment = {.applicationFolders = folders,
                                .autostartFolders = {tree.path("autostart")},
                                .programFolders = {tree.path("nothing"), tree.path("bin")},
                                .locale = std::move(locale)},
                .windows = std::make_unique<FixedWindows>(std::move(windows))};
    }

    // Each pid's application in one line, as attribution sees it first (own process, then
    // unit): id ("pid" when it has none), policy (Regular, Accessory, Prohibited), name, icon.
    static std::map<std::int32_t, std::string> byPid(const RunningApps& running)
    {
        const auto show = [](const RunningAppRef& app) {
            std::string line = app->bundleIdentifier.value_or("pid") + " " +
                               "RAP"[static_cast<int>(app->activationPolicy)];
            line += app->localizedName ? " " + *app->localizedName : "";
            return line + (app->icon ? " " + app->icon->nameOrPath : "");
        };
        std::map<std::int32_t, std::string> out;
        std::set<std::string> ids;
        for (const auto& [pid, member] : running.byUnit)
            out[pid] = show(member.app);
        for (const auto& app : running.apps) {
            EXPECT_TRUE(!app->bundleIdentifier || ids.insert(*app->bundleIdentifier).second)
                << *app->bundleIdentifier << " listed twice";
            if (app->processIdentifier > 0)
                out[app->processIdentifier] = show(app);
        }
        for (const auto& [pid, app] : running.byPID)
            out[pid] = show(app);
        return out;
    }

    static std::string idOf(const std::string& line) { return line.substr(0, line.find(' ')); }

    testing::TempDir tree;
    const std::vector<std::string> folders{tree.path("home"), tree.path("missing"),
                                           tree.path("apps")};
};

TEST_F(DesktopTreeTest, UnitsNameAndRankTheirProcesses)
{
    DesktopApplications apps(sources({}, "sr_RS.UTF-8@latin"));
    auto records = byPid(apps.list());
    // clang-format off
    const std::pair<std::int32_t, const char*> cases[] = {
        {101, "org.example.Editor R Uređivač /opt/ed.png"},
        {103, "org.example.Editor R Uređivač /opt/ed.png"}, // in a sub-cgroup
        {205, "org.example.Paint R My Paint"}, {401, "org.example.Tray A Tray tray"}, // autostart
        {902, "org.example.Sync A Sync"}, {501, "org.example.Helper A Helper"}, // NoDisplay
        {601, "org.example.NoEntry P"}, {701, "org.gnome.Shell P Shell"}, // no entry; the shell
        {801, ""}, {1001, ""}}; // in no app unit of this user
    // clang-format on
    for (const auto& [pid, app] : cases)
        EXPECT_EQ(records[pid], app) << pid;
}

TEST_F(DesktopTreeTest, ProgramsClaimTheirProcessesConservatively)
{
    DesktopApplications apps(sources());
    auto records = byPid(apps.list());
    // The terminal keeps its shell, its server, an interpreter, a program two entries run with
    // arguments, a NoDisplay entry's, a terminal program, a wrapper. Claimed: by absolute Exec,
    // on $PATH via a link, TryExec, past "env" (replaced on disk), alone of several, again.
    const char* const term = "org.example.Terminal";
    // clang-format off
    const std::pair<std::int32_t, const char*> cases[] = {
        {201, term}, {202, term}, {204, term}, {209, term}, {210, term}, {211, term}, {212, term},
        {203, "org.example.Writer"}, {205, "org.example.Paint"}, {206, "org.example.Probe"},
        {207, "org.example.Env"}, {208, "org.example.Suite"}, {213, "org.example.Viewer"},
        {1101, "org.example.Writer"}, {1102, ""}};
    // clang-format on
    for (const auto& [pid, id] : cases)
        EXPECT_EQ(idOf(records[pid]), id) << "pid " << pid;

    // A wrapper is looked at again in the next cycles: it may exec the application it starts.
    fs::remove(tree.path("proc/212/exe"));
    fs::create_symlink(tree.path("opt/writer"), tree.path("proc/212/exe"));
    EXPECT_EQ(idOf(byPid(apps.list())[212]), "org.example.Writer");

    // Given the cycle's process table, the desktop looks at those processes, not at /proc's,
    // and again only at parts that changed (with units, every third cycle looks at all).
    const RowPart busy{0, std::make_shared<std::vector<PSRow>>(1, PSRow{1200, 1, 0, 0, {}})};
    const RowPart idle{7, std::make_shared<std::vector<PSRow>>(1, PSRow{1101, 1, 0, 0, {}})};
    DesktopApplications cycles(sources());
    std::vector<std::string> writer;
    for (const auto& parts :
         std::vector<std::vector<RowPart>>{{busy}, {busy, idle}, {busy, idle}, {busy}}) {
        cycles.listFor(parts, nullptr), cycles.listFor(parts, nullptr);
        writer.push_back(idOf(byPid(cycles.listFor(parts, nullptr))[1101]));
        if (writer.size() == 2)
            fs::remove(tree.path("proc/1101/exe")); // not read again while its part stands
    }
    EXPECT_EQ(writer,
              (std::vector<std::string>{"", "org.example.Writer", "org.example.Writer", ""}));
}

TEST_F(DesktopTreeTest, WindowsAddAppsAndDecidePolicies)
{
    using enum WindowRole;
    // 950 has no unit: its program claims it, but not 1101, a panel; a dock's unit (401) and a
    // dock that names no process (Paint's) are the desktop's; 601 (no entry), 501
    // (NoDisplay), 204 (in the tab) show windows; of two classes (206, 209) the program decides,
    // else the unit. No entry: a pid named by its class; StartupWMClass matches class or
    // instance, exactly; the id in any case. Only a taskbar window makes an app of a window.
    // clang-format off
    const std::string script = "org.example.Script", writer = "org.example.Writer";
    DesktopApplications apps(sources({
        {950, "xterm", "XTerm", taskbar}, {960, "tray-thing", "Tray-thing", skipsTaskbar},
        {970, "panel", "Panel", shell}, {980, "gimp-2.10", "Gimp-2.10", taskbar},
        {981, "Gimp-2.10", "Other", taskbar}, {982, "x", "Org.Example.Editor", taskbar},
        {983, "gimp-2.10", "gimp-2.10", taskbar}, {984, "", "org.example.Gone", taskbar},
        {985, "", "", taskbar}, {601, "noentry", "NoEntry", taskbar}, {501, "h", "Helper", taskbar},
        {204, "script", script, taskbar}, {202, "term", "org.example.Terminal", taskbar},
        {206, "tool", script, taskbar}, {206, "w", writer, taskbar}, {209, "twin", script, taskbar},
        {209, "w", writer, taskbar}, {1101, "panel", "Panel", shell}, {401, "dock", "Dock", shell},
        {0, "paint", "org.example.Paint", shell}, {0, "xterm", "XTerm", shell}}));
    auto records = byPid(apps.list());
    const std::string terminal = "org.example.Terminal R Terminal utilities-terminal";
    const std::pair<std::int32_t, std::string> cases[] = {
        {950, "xterm R XTerm"}, {970, "pid P"}, {960, "pid P Tray-thing"}, {1101, "pid P"}, {980, "gimp R GIMP"},
        {981, "gimp R GIMP"}, {982, "org.example.Editor R Editor /opt/ed.png"},
        {983, "pid R gimp-2.10"}, {984, "pid R org.example.Gone"}, {985, "pid R"}, // Hidden
        {601, "org.example.NoEntry R NoEntry"}, {501, "org.example.Helper R Helper"},
        {204, "org.example.Script R Script"}, {206, "org.example.Probe R Probe"},
        {201, terminal}, {209, terminal}, {203, "org.example.Writer R Writer"},
        {401, "org.example.Tray P Tray tray"}, {205, "org.example.Paint P My Paint"}};
    // clang-format on
    for (const auto& [pid, app] : cases)
        EXPECT_EQ(records[pid], app) << pid;
}

TEST_F(DesktopTreeTest, EntriesAreReadAgainWhenAFolderChangesAtTheTimesAsked)
{
    EntryIndex index(folders, true, "C", {5s, 60s});
    const auto now = EntryIndex::Clock::now();
    ASSERT_TRUE(index.refresh(now));
    EXPECT_EQ(index.table().find("kde-dolphin")->name, "Dolphin") << "subfolders join with '-'";
    for (const char* absent : {"org.example.Gone", "readme", "broken", "org.example.Missing"})
        EXPECT_FALSE(index.table().find(absent)) << absent;
    EXPECT_FALSE(index.refresh(now + 5s)) << "nothing changed";
    const std::pair<std::string, std::string> changes[] = {
        {"missing/org.example.New.desktop", "org.example.New"}, // a folder appears
        {"home/kde/konsole.desktop", "kde-konsole"}};           // in a subfolder
    auto at = now + 5s;
    for (const auto& [file, id] : changes) {
        tree.write(file, entry("New"));
        EXPECT_FALSE(index.refresh(at + 4s)) << "too soon";
        EXPECT_TRUE(index.refresh(at += 5s) && index.table().find(id)) << id;
    }
    fs::remove(tree.path("home/org.example.Paint.desktop"));
    EXPECT_TRUE(index.refresh(at += 5s));
    EXPECT_EQ(index.table().find("org.example.Paint")->name, "Paint");
    EXPECT_FALSE(index.refresh(now + 55s));
    EXPECT_TRUE(index.refresh(now + 80s)) << "past the maximum age";
}

// A user service in a container's nested tree; folder loops, dangling links; no /proc; nothing.
TEST(DesktopTreeEdges, UnusualTreesAndMissingPartsListWhatTheyCan)
{
    testing::TempDir tree;
    tree.write("cg/m.slice/b.slice/user@1000.service/app.slice/app-a-1.scope/cgroup.procs", "11");
    tree.write("apps/a.desktop", entry("A")); // the shortest name an entry can have
    fs::create_directory_symlink(tree.path("apps"), tree.path("apps/loop"));
    fs::create_symlink(tree.path("nowhere.desktop"), tree.path("apps/dangling.desktop"));
    tree.makeFolder("apps/folder.desktop");
    DesktopApplications nested(
        {.cgroupRoot = tree.path("cg"),
         .procRoot = tree.path("no-proc"),
         .uid = 1000,
         .environment = {.applicationFolders = {tree.path("apps"), "rel", ""}}});
    const auto found = nested.list();
    ASSERT_TRUE(found.apps.size() == 1 && found.byUnit.count(11) == 1);
    EXPECT_EQ(found.apps[0]->localizedName, "A");
    EntryIndex index({tree.path("apps")}, true, "C", {});
    index.refresh(EntryIndex::Clock::now());
    EXPECT_TRUE(index.table().find("loop-loop-a")) << "loops end at a fixed depth";
    EXPECT_FALSE(index.table().find("dangling") || index.table().find("folder"));

    DesktopApplications none({.cgroupRoot = tree.path("none"), .procRoot = tree.path("none")});
    for (const RunningApps& listed : {none.list(), none.list()}) // two cycles
        EXPECT_TRUE(listed.apps.empty() && listed.byPID.empty() && listed.byUnit.empty());
}

} // namespace
} // namespace corvel
