// The desktop layer against a real X server (Xvfb) with a real EWMH window manager (openbox):
// windows of child processes with known WM_CLASS and _NET_WM_PID. Skips without the two.
#include "cycle.h"
#include "desktop_applications.h"
#include "support/temp_dir.h"
#include "system_snapshot.h"

#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <xcb/xcb.h>

namespace corvel {
namespace {

bool waitFor(const std::function<bool()>& ready)
{
    for (int tries = 0; tries < 300;
         ++tries, std::this_thread::sleep_for(std::chrono::milliseconds(50)))
        if (ready())
            return true;
    return false;
}

xcb_atom_t atom(xcb_connection_t* c, const char* name)
{
    auto* reply = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, std::strlen(name), name), nullptr);
    const xcb_atom_t found = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return found;
}

// In a forked child, with a helper child of its own: one top-level window, mapped again and again
// because openbox drops map requests that come before it is ready.
[[noreturn]] void windowChild(const std::string& display, std::string_view wmClass, bool skip)
{
    if (::fork() == 0)
        for (;;)
            ::pause();
    xcb_connection_t* c = xcb_connect(display.c_str(), nullptr);
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_window_t w = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, w, screen->root, 10, 10, 200, 100, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                        wmClass.size(), wmClass.data());
    const std::uint32_t pid = ::getpid();
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, atom(c, "_NET_WM_PID"), XCB_ATOM_CARDINAL, 32,
                        1, &pid);
    const xcb_atom_t skipTaskbar = atom(c, "_NET_WM_STATE_SKIP_TASKBAR");
    if (skip)
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, atom(c, "_NET_WM_STATE"), XCB_ATOM_ATOM,
                            32, 1, &skipTaskbar);
    for (;; ::usleep(100000)) {
        xcb_map_window(c, w);
        xcb_flush(c);
    }
}

TEST(X11Windows, WindowsBecomeApplicationsWithTheirHelpers)
{
    if (::access("/usr/bin/Xvfb", X_OK) != 0 || ::access("/usr/bin/openbox", X_OK) != 0)
        GTEST_SKIP() << "Xvfb or openbox is not installed";
    ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    std::vector<pid_t> pids; // each leads a process group, killed whole at the end
    std::string display;
    const auto spawn = [&](const std::function<void()>& run) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::setpgid(0, 0);
            const int null = ::open("/dev/null", O_RDWR);
            ::dup2(null, 1), ::dup2(null, 2);
            ::setenv("DISPLAY", display.c_str(), 1);
            run();
            ::_exit(127);
        }
        pids.push_back(pid);
        return pid;
    };
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t server = spawn([&] {
        ::execl("/usr/bin/Xvfb", "Xvfb", "-displayfd", std::to_string(fds[1]).c_str(), "-screen",
                "0", "640x480x24", "-nolisten", "tcp", nullptr);
    });
    ::close(fds[1]);
    pollfd ready{fds[0], POLLIN, 0};
    char number[32] = {};
    if (::poll(&ready, 1, 15000) == 1 && ::read(fds[0], number, sizeof number - 1) > 0)
        display = ":" + std::string(number, std::strcspn(number, "\n"));
    ::close(fds[0]);
    const auto cleanup = [&] {
        for (const pid_t pid : pids)
            ::kill(-pid, SIGKILL);
        while (::waitpid(-1, nullptr, 0) > 0) {
        }
    };
    if (display.empty()) {
        cleanup();
        FAIL() << "Xvfb did not report a display";
    }
    const pid_t wm = spawn([] { ::execl("/usr/bin/openbox", "openbox", "--sm-disable", nullptr); });
    const pid_t probe =
        spawn([&] { windowChild(display, std::string_view("probe\0CorvelProbe\0", 18), false); });
    const pid_t tray =
        spawn([&] { windowChild(display, std::string_view("traything\0Traything", 19), true); });

    testing::TempDir tree;
    tree.write("data/applications/org.example.Probe.desktop",
               "[Desktop Entry]\nType=Application\nName=Probe\nIcon=/opt/probe/probe.svg\n"
               "StartupWMClass=CorvelProbe\nExec=probe\n");
    DesktopSources sources;
    sources.environment.applicationFolders = {tree.path("data/applications")};
    sources.windows = makeX11Windows(display);
    DesktopApplications apps(std::move(sources));
    RunningApps list;
    const auto has = [&](pid_t pid) { return list.byPID.count(pid) > 0; };
    EXPECT_TRUE(waitFor([&] { return list = apps.list(), has(probe) && has(tray); }));
    if (has(probe) && has(tray)) {
        const RunningApp& app = *list.byPID.at(probe);
        EXPECT_EQ(app.bundleIdentifier, "org.example.Probe");
        EXPECT_EQ(app.localizedName, "Probe");
        EXPECT_EQ(app.icon->nameOrPath, "/opt/probe/probe.svg");
        EXPECT_EQ(app.activationPolicy, ActivationPolicy::regular);
        const RunningApp& other = *list.byPID.at(tray);
        EXPECT_FALSE(other.bundleIdentifier);
        EXPECT_EQ(other.localizedName, "Traything");
        EXPECT_EQ(other.activationPolicy, ActivationPolicy::accessory);
        std::int64_t count = 0; // the helper, through the real process table, counts with it
        for (const AppUsage& usage : runCycle(*makeSystemSnapshotter(), apps).apps)
            if (usage.id == "org.example.Probe")
                count = usage.processCount;
        EXPECT_EQ(count, 2);
    }
    // Without a window manager there is no client list; without a server, nothing at all.
    ::kill(-wm, SIGKILL);
    EXPECT_TRUE(waitFor([&] { return list = apps.list(), !has(probe); }));
    ::kill(-server, SIGKILL);
    ::waitpid(server, nullptr, 0);
    EXPECT_TRUE(apps.list().byPID.empty());
    EXPECT_TRUE(makeX11Windows("")->windows().empty());
    EXPECT_TRUE(makeX11Windows("not a display")->windows().empty());
    cleanup();
}

} // namespace
} // namespace corvel
