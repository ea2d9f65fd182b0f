// The desktop layer against real cgroups (root), Xvfb with openbox and the real process table;
// each test skips when its parts are missing.
#include "cgroup_activity.h"
#include "cgroup_apps.h"
#include "cycle.h"
#include "desktop_applications.h"
#include "kernel_text.h"
#include "small_file.h"
#include "support/idle_children.h"
#include "support/require.h"
#include "support/temp_dir.h"
#include "support/test_cgroup.h"
#include "system_snapshot.h"
#include "window_closing.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#if CORVEL_TEST_X11
#include <xcb/xcb.h>
#endif

namespace corvel {
namespace {

using namespace std::string_literals;
using Counts = std::map<std::string, std::int64_t>;

// Runs `run` in a child with no output, in a session of its own.
pid_t launch(testing::IdleChildren& children, const std::function<void()>& run)
{
    return children.start([&] { ::dup2(::open("/dev/null", O_RDWR), 1), ::dup2(1, 2), run(); });
}

bool waitFor(const std::function<bool()>& ready) // for up to 15 s
{
    for (int tries = 0; tries < 300; ++tries, ::usleep(50'000))
        if (ready())
            return true;
    return false;
}

Counts counts(DesktopApplications& apps) // of one cycle over the real process table
{
    Counts out;
    for (const AppUsage& usage : runCycle(*makeSystemSnapshotter(), apps).apps)
        if (usage.id != systemEntryId)
            out[usage.id] = usage.processCount;
    return out;
}

// A cgroup of the test's own below the real cgroup2 mount (root), with a user's service in it
// for a uid no one has.
class RealCgroup : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (root.path().empty())
            CORVEL_SKIP_TEST("cgroup", root.why());
    }

    testing::TestCgroup root{"desktop"};
    const std::uint32_t uid = 1'900'000'000u + ::getpid();
    const std::string u = std::to_string(uid), slice = "user.slice/user-" + u + ".slice",
                      service = slice + "/user@" + u + ".service/";
};

// Processes of that uid in a terminal's slice (its server; a tab with an application and its
// child, a command, a shell) and in a session scope holding a launcher's children.
TEST_F(RealCgroup, ApplicationsStartedFromATerminalOrALauncherGetTheirRows)
{
    const std::string term = service + "app.slice/app-org.example.Term.slice";
    testing::TempDir tree;
    std::filesystem::permissions(tree.path(), std::filesystem::perms::all);
    const std::string opt = tree.makeFolder("opt");
    for (const char* name : {"writer", "term-server", "launcher"}) // copies of a shell
        std::filesystem::copy_file("/bin/sh", opt + "/" + name);
    for (const std::string& e : {"Term=term"s, "Shell=sh"s, "Writer=" + opt + "/writer"}) // id=Exec
        tree.write("apps/org.example." + e.substr(0, e.find('=')) + ".desktop",
                   "[Desktop Entry]\nType=Application\nName=x\nExec" + e.substr(e.find('=')));
    // `program -c script` as that uid, in its cgroup (made) before it runs
    testing::IdleChildren children;
    const auto start = [&](const std::string& group, const std::string& program,
                           const std::string& script) {
        const std::string folder = root.nest(group);
        launch(children, [&] {
            std::ofstream(folder + "/cgroup.procs") << "0" << std::endl;
            if (::setresgid(uid, uid, uid) == 0 && ::setresuid(uid, uid, uid) == 0)
                ::execl(program.c_str(), program.c_str(), "-c", script.c_str(), nullptr);
        });
    };
    const std::string app = opt + "/writer -c 'sleep 1000 & wait' & ";
    start(term + "/app-org.example.Term-1.scope", opt + "/term-server", "sleep 1000 & wait");
    start(term + "/vte-spawn-1.scope", "/bin/sh",
          app + "sleep 1000 & sh -c 'sleep 1000; :' & wait");
    start(slice + "/session-1.scope", opt + "/launcher", app + "sleep 1000 & wait");

    DesktopApplications apps({.cgroupRoot = root.path(),
                              .uid = uid,
                              .environment = {.applicationFolders = {tree.path("apps")}}});
    // server 2; tab: shell, command, sh and its sleep; writers 2 with a child each
    const Counts expected{{"org.example.Term", 6}, {"org.example.Writer", 4}};
    Counts found;
    waitFor([&] { return (found = counts(apps)) == expected; });
    EXPECT_EQ(found, expected) << "the launcher and its plain child are nobody's";
}

TEST_F(RealCgroup, TheSamplersWalkFindsTheUnitsThatAWalkOfTheirOwnFinds)
{
    const std::string a = "app.slice/app-A-1.scope", b = "app.slice/app-B@1.service",
                      sub = b + "/sub/deeper", c = "app.slice/app-C-2.scope", other = "x.slice";
    testing::IdleChildren children(6);
    const std::vector<pid_t>& p = children.pids();
    // Into `group` by our hand, then it runs there (stops and goes on) until its count shows it.
    const auto move = [&](int child, const std::string& group) {
        const std::string folder = root.nest(service + group);
        std::ofstream(folder + "/cgroup.procs") << p[child] << std::endl;
        const auto usage = [&] {
            return parseCgroupUsage(readSmallFile(folder + "/cpu.stat", 4096).value_or(""));
        };
        for (const auto before = usage(); usage() == before;)
            ::kill(p[child], SIGSTOP), ::waitpid(p[child], nullptr, WUNTRACED),
                ::kill(p[child], SIGCONT), ::waitpid(p[child], nullptr, WCONTINUED);
    };
    for (const auto& [child, group] : std::map<int, std::string>{
             {0, a}, {1, a}, {2, b}, {3, sub}, {4, "app.slice/app-T.slice/x.scope"}, {5, other}})
        move(child, group);
    const std::pair<std::function<void()>, const char*> steps[] = {
        {[] {}, " A:01 B:23 T:4"},
        {[&] { move(1, sub); }, " A:0 B:123 T:4"}, // between units
        {[&] { move(0, other); }, " B:123 T:4"},   // a unit emptied
        {[&] { move(5, c); }, " B:123 C:5 T:4"},   // one started
        {[&] { ::kill(p[3], SIGKILL), ::waitpid(p[3], nullptr, 0); }, " B:12 C:5 T:4"}, // exits
        {[] {}, " B:12 C:5 T:4"}}; // nothing ran
    // Each unit's id and the children in it, by their indexes.
    const auto show = [&](const std::vector<UnitProcesses>& units) {
        std::string out;
        for (const UnitProcesses& unit : units) {
            out += " " + unit.unit.id + ":";
            for (std::size_t i = 0; i < p.size(); ++i)
                out += std::ranges::count(unit.pids, p[i]) ? std::to_string(i) : "";
        }
        return out;
    };
    CgroupActivity walk(root.path());
    CgroupApps shared(root.path(), "/proc", uid), own(root.path(), "/proc", uid);
    for (const auto& [change, expected] : steps) {
        change();
        const auto now = CgroupApps::Clock::now();
        ASSERT_TRUE(walk.update());
        EXPECT_EQ(show(shared.scan(now, &walk)), show(own.scan(now)));
        EXPECT_EQ(show(own.scan(now)), expected);
    }
}

#if CORVEL_TEST_X11
// In a forked child, with a helper child of its own: one top-level window and a dialog for it,
// mapped again and again because openbox drops map requests that come before it is ready. Asked
// to close, it exits or, as an editor with unsaved work would, says so on `asked` and stays.
[[noreturn]] void windowChild(std::string_view wmClass, bool skipTaskbar, int asked = -1)
{
    if (::fork() == 0)
        for (;;)
            ::pause();
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    const auto atom = [&](const char* name) { // the reply is left: this process never exits
        const auto cookie = xcb_intern_atom(c, 0, std::strlen(name), name);
        return xcb_intern_atom_reply(c, cookie, nullptr)->atom;
    };
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_window_t w = xcb_generate_id(c), d = xcb_generate_id(c);
    const std::uint32_t pid = ::getpid(), skip = atom("_NET_WM_STATE_SKIP_TASKBAR"),
                        close = atom("WM_DELETE_WINDOW");
    char host[256] = {}; // this machine's: the pid is one of ours
    ::gethostname(host, sizeof host - 1);
    const std::tuple<xcb_atom_t, xcb_atom_t, std::uint8_t, std::uint32_t, const void*> props[] = {
        {XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, wmClass.size(), wmClass.data()},
        {atom("_NET_WM_PID"), XCB_ATOM_CARDINAL, 32, 1, &pid},
        {XCB_ATOM_WM_CLIENT_MACHINE, XCB_ATOM_STRING, 8, std::strlen(host), host},
        {atom("_NET_WM_STATE"), XCB_ATOM_ATOM, 32, skipTaskbar, &skip},
        {atom("WM_PROTOCOLS"), XCB_ATOM_ATOM, 32, 1, &close}};
    for (const xcb_window_t window : {w, d}) {
        xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 10, 10, 200, 100, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
        for (const auto& [property, type, format, length, data] : props)
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, property, type, format, length,
                                data);
    }
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, d, XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW, 32,
                        1, &w);
    for (;; ::usleep(100'000)) {
        xcb_map_window(c, w), xcb_map_window(c, d);
        xcb_flush(c);
        while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
            const auto* message = reinterpret_cast<xcb_client_message_event_t*>(event);
            if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE &&
                message->data.data32[0] == close && (asked < 0 || ::write(asked, "?", 1) < 0))
                ::_exit(0);
            std::free(event);
        }
    }
}

TEST(RealX11, WindowsBecomeApplicationsWithTheirHelpers)
{
    if (::access("/usr/bin/Xvfb", X_OK) != 0 || ::access("/usr/bin/openbox", X_OK) != 0)
        CORVEL_SKIP_TEST("x11", "Xvfb or openbox is not installed");
    testing::IdleChildren children;
    testing::TempDir tree; // the server writes its display number to a file there
    const int fd = ::open(tree.path("display").c_str(), O_WRONLY | O_CREAT, 0600);
    const pid_t server = launch(children, [&] {
        ::execl("/usr/bin/Xvfb", "Xvfb", "-displayfd", std::to_string(fd).c_str(), "-screen", "0",
                "640x480x24", "-nolisten", "tcp", nullptr);
    });
    ::close(fd);
    std::string display;
    ASSERT_TRUE(waitFor([&] {
        display = ":" + readSmallFile(tree.path("display"), 64).value_or("");
        return display.ends_with('\n');
    }));
    display.pop_back();
    ::setenv("DISPLAY", display.c_str(), 1);
    const pid_t wm =
        launch(children, [] { ::execlp("openbox", "openbox", "--sm-disable", nullptr); });
    const pid_t probe = launch(children, [] { windowChild({"probe\0CorvelProbe\0", 18}, false); });
    const pid_t tray = launch(children, [] { windowChild({"traything\0Traything", 19}, true); });
    int asked[2]; // an editor that asks before it closes says so here
    ASSERT_EQ(::pipe2(asked, O_NONBLOCK), 0);
    const pid_t editor = launch(children, [&] {
        windowChild({"ed\0Editor", 10}, false, asked[1]);
    });

    tree.write("apps/org.example.Probe.desktop",
               "[Desktop Entry]\nType=Application\nName=Probe\nIcon=/opt/probe.svg\n"
               "StartupWMClass=CorvelProbe\nExec=probe\n");
    DesktopApplications apps({.environment = {.applicationFolders = {tree.path("apps")}},
                              .windows = makeX11Windows(display)});
    RunningApps list;
    const auto has = [&](pid_t pid) { return list.byPID.count(pid) > 0; };
    ASSERT_TRUE(
        waitFor([&] { return list = apps.list(), has(probe) && has(tray) && has(editor); }));
    const RunningApp &app = *list.byPID.at(probe), &other = *list.byPID.at(tray);
    using enum ActivationPolicy;
    EXPECT_EQ(std::tuple(app.bundleIdentifier, app.localizedName, app.icon->nameOrPath,
                         app.activationPolicy, other.bundleIdentifier, other.localizedName,
                         other.activationPolicy),
              std::tuple("org.example.Probe", "Probe", "/opt/probe.svg", regular, std::nullopt,
                         "Traything", prohibited));
    EXPECT_EQ(counts(apps)["org.example.Probe"], 2) << "with its helper";

    // Quit: the manager passes close requests to taskbar windows; one closes, one asks first.
    // Their dialogs are not: one could take the request for "cancel".
    const auto windows = makeX11Windows(display);
    ASSERT_TRUE(waitFor([&] { return windows->windows().size() == 6; }));
    const std::int32_t pids[] = {probe, tray, editor, ::getpid()};
    EXPECT_EQ(closeX11Windows(display, pids), 2) << "not the one kept out of the taskbar";
    EXPECT_TRUE(waitFor([&] { return ::waitpid(probe, nullptr, WNOHANG) == probe; }));
    EXPECT_TRUE(waitFor([&] { return ::read(asked[0], std::array<char, 1>().data(), 1) == 1; }));
    EXPECT_EQ(::kill(editor, 0), 0) << "still there, asking";
    EXPECT_EQ(closeX11Windows(display, std::span(pids).last(1)), 0) << "only the pids named";

    // Without a window manager there is no client list; without a server, nothing at all.
    ::kill(-wm, SIGKILL);
    EXPECT_TRUE(waitFor([&] { return list = apps.list(), !has(editor); }));
    EXPECT_EQ(closeX11Windows(display, pids), 0) << "no manager to ask";
    ::kill(-server, SIGKILL);
    ::waitpid(server, nullptr, 0);
    EXPECT_TRUE(apps.list().byPID.empty() && makeX11Windows("")->windows().empty() &&
                makeX11Windows("not a display")->windows().empty());
}
#endif

// Quit on Wayland: two applications (GTK's) on a headless compositor, each asked in turn by app
// id (as wlroots names windows) and process (as KWin does); the first has a dialog, asked only
// where the compositor says whose dialog it is (`asked`: the requests it gets). Sway refuses
// root: it runs as nobody.
void closeOn(uid_t uid, const std::string& compositor, int asked)
{
    testing::TempDir tree;
    const std::string home = tree.path(); // also the runtime folder: the user's own, private
    tree.write("sway.conf", "xwayland disable\n");
    tree.write("window.py", R"(import sys, gi
gi.require_version('Gtk', '3.0')
from gi.repository import GLib, Gtk
GLib.set_prgname(sys.argv[1])
window = Gtk.Window(visible=True)
window.connect('destroy', Gtk.main_quit) # asked to close, it is gone
if sys.argv[2:]: # with a dialog, and a file named there once the compositor shows both
    dialog, drawn = Gtk.Window(transient_for=window, visible=True), set()
    def draw(shown, _): # drawn: committed, and shown after a round trip
        drawn.add(shown)
        len(drawn) < 2 or GLib.idle_add(lambda: window.get_display().sync() or open(sys.argv[2], 'w').close())
    window.connect('draw', draw), dialog.connect('draw', draw)
Gtk.main()
)");
    EXPECT_EQ(::chown(home.c_str(), uid, uid), 0);
    testing::IdleChildren children;
    const std::string socket = home + "/wayland-1";      // the first name each takes, unless told
    const auto start = [&](const std::string& command) { // exec'd by sh and env: the same pid
        const std::string script = "exec env -i HOME=$PWD XDG_RUNTIME_DIR=$PWD GDK_BACKEND="
                                   "wayland WAYLAND_DISPLAY=$PWD/wayland-1 PATH=/bin " +
                                   command;
        return launch(children, [&] { // the parent's death signal again: a new uid clears it
            if (::chdir(home.c_str()) == 0 && ::setresgid(uid, uid, uid) == 0 &&
                ::setresuid(uid, uid, uid) == 0 && ::prctl(PR_SET_PDEATHSIG, SIGKILL) == 0)
                ::execl("/bin/sh", "sh", "-c", script.c_str(), nullptr);
        });
    };
    const pid_t server = start(compositor);
    ASSERT_TRUE(waitFor([&] { return std::filesystem::exists(socket); }));
    ::setenv("WAYLAND_DISPLAY", socket.c_str(), 1);
    const pid_t other = start("python3 window.py org.example.Editor"),
                app = start("python3 window.py gedit shown");
    ASSERT_TRUE(waitFor([&] { return std::filesystem::exists(tree.path("shown")); }));
    EXPECT_EQ(closeWaylandWindows("Gedit", std::array{app}), asked);
    EXPECT_TRUE(waitFor([&] { return ::waitpid(app, nullptr, WNOHANG) == app; }));
    EXPECT_EQ(::waitpid(other, nullptr, WNOHANG), 0) << "another application's stays";
    EXPECT_TRUE(waitFor([&] { // shown by now, or soon
        return closeWaylandWindows("org.example.Editor", std::array{other}) == 1;
    }));
    ::kill(server, SIGSTOP);
    EXPECT_EQ(closeWaylandWindows("gedit", std::array{app}), std::nullopt) << "stopped, no hang";
}

TEST(RealWayland, SwayAndKWinCloseTheApplicationsWindows)
{
    // The package gives kwin_wayland a file capability that a container cannot grant: exec fails.
    if (std::system("kwin_wayland --version >/dev/null 2>&1") != 0)
        std::system("/usr/sbin/setcap -r /usr/bin/kwin_wayland 2>/dev/null");
    const std::tuple<const char*, uid_t, const char*, int> compositors[] = {
        // Sway 1.7 tells no window's parent: the dialog is asked too.
        {"sway", 65534, "WLR_BACKENDS=headless WLR_RENDERER=pixman sway -c sway.conf", 2},
        {"kwin_wayland", 0,
         "KWIN_WAYLAND_NO_PERMISSION_CHECKS=1 kwin_wayland --virtual --socket wayland-1", 1}};
    for (const auto& [name, uid, command, asked] : compositors) {
        if (::geteuid() != 0 || ::access(("/usr/bin/"s + name).c_str(), X_OK) != 0)
            CORVEL_SKIP_TEST("wayland", "needs root and "s + name);
        SCOPED_TRACE(name);
        closeOn(uid, command, asked);
    }
}

} // namespace
} // namespace corvel
