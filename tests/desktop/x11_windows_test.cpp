// The desktop layer against a real X server (Xvfb) with a real EWMH window manager (openbox):
// windows opened by child processes of the test, with known WM_CLASS and _NET_WM_PID. Skips
// when Xvfb or openbox are not installed.
#include "cycle.h"
#include "desktop_applications.h"
#include "system_snapshot.h"
#include "temp_tree.h"

#include <algorithm>
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

using namespace std::chrono_literals;

std::string findProgram(const char* name)
{
    for (const char* folder : {"/usr/bin", "/usr/local/bin", "/bin"}) {
        const std::string path = std::string(folder) + "/" + name;
        if (::access(path.c_str(), X_OK) == 0)
            return path;
    }
    return {};
}

// Waits up to `limit` for `ready`, looking every 50 ms: readiness, not speed, is what counts.
bool waitFor(const std::function<bool()>& ready, std::chrono::milliseconds limit = 15s)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!ready()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

xcb_atom_t internAtom(xcb_connection_t* c, const char* name)
{
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return atom;
}

// In a forked child: opens one top-level window, starts a helper child, reports the helper's
// pid and then waits to be killed. Only exits on failure.
[[noreturn]] void runWindowChild(const std::string& display, std::string_view wmClass,
                                 bool skipTaskbar, int reportFd)
{
    xcb_connection_t* c = xcb_connect(display.c_str(), nullptr);
    if (xcb_connection_has_error(c))
        ::_exit(1);
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_window_t window = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 10, 10, 200, 100, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                        static_cast<std::uint32_t>(wmClass.size()), wmClass.data());
    const std::uint32_t pid = static_cast<std::uint32_t>(::getpid());
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, internAtom(c, "_NET_WM_PID"),
                        XCB_ATOM_CARDINAL, 32, 1, &pid);
    if (skipTaskbar) {
        const xcb_atom_t skip = internAtom(c, "_NET_WM_STATE_SKIP_TASKBAR");
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, internAtom(c, "_NET_WM_STATE"),
                            XCB_ATOM_ATOM, 32, 1, &skip);
    }
    xcb_map_window(c, window);
    xcb_flush(c);
    const pid_t helper = ::fork();
    if (helper == 0)
        for (;;)
            ::pause();
    if (::write(reportFd, &helper, sizeof helper) != sizeof helper)
        ::_exit(1);
    for (;;)
        ::pause();
}

class X11Test : public testing::Test
{
protected:
    void SetUp() override
    {
        const std::string xvfb = findProgram("Xvfb");
        const std::string openbox = findProgram("openbox");
        if (xvfb.empty() || openbox.empty())
            GTEST_SKIP() << "Xvfb or openbox is not installed";
        ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);

        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        server_ = spawn([&] {
            const std::string fd = std::to_string(fds[1]);
            ::execl(xvfb.c_str(), "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "640x480x24",
                    "-nolisten", "tcp", "-noreset", static_cast<char*>(nullptr));
        });
        ::close(fds[1]);
        pollfd wait{fds[0], POLLIN, 0};
        char number[32] = {};
        if (::poll(&wait, 1, 15000) == 1 && ::read(fds[0], number, sizeof number - 1) > 0)
            display_ = ":" + std::string(number, std::strcspn(number, "\n"));
        ::close(fds[0]);
        ASSERT_FALSE(display_.empty()) << "Xvfb did not report a display";

        startWindowManager(openbox);
    }

    void TearDown() override
    {
        // The helpers first, then their parents, then the window manager and the server.
        for (auto it = pids_.rbegin(); it != pids_.rend(); ++it)
            ::kill(*it, SIGKILL);
        for (auto it = pids_.rbegin(); it != pids_.rend(); ++it)
            ::waitpid(*it, nullptr, 0);
    }

    pid_t spawn(const std::function<void()>& exec)
    {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::setenv("DISPLAY", display_.c_str(), 1);
            const int null = ::open("/dev/null", O_RDWR);
            ::dup2(null, 1);
            if (!::getenv("CORVEL_TEST_VERBOSE"))
                ::dup2(null, 2);
            exec();
            ::_exit(127);
        }
        if (pid > 0)
            pids_.push_back(pid);
        return pid;
    }

    void startWindowManager(const std::string& openbox)
    {
        windowManager_ = spawn([&] {
            ::execl(openbox.c_str(), "openbox", "--sm-disable", static_cast<char*>(nullptr));
        });
        ASSERT_TRUE(waitFor([&] { return hasWindowManager(); })) << "openbox did not start";
        ASSERT_TRUE(managesNewWindows()) << "openbox does not manage windows";
    }

    // The root names a check window that names itself, as an EWMH manager keeps it.
    bool hasWindowManager() const
    {
        xcb_connection_t* c = xcb_connect(display_.c_str(), nullptr);
        bool found = false;
        if (!xcb_connection_has_error(c)) {
            const xcb_atom_t atom = internAtom(c, "_NET_SUPPORTING_WM_CHECK");
            const auto checkOf = [&](xcb_window_t window) -> xcb_window_t {
                xcb_get_property_reply_t* reply = xcb_get_property_reply(
                    c, xcb_get_property(c, 0, window, atom, XCB_ATOM_WINDOW, 0, 1), nullptr);
                xcb_window_t named = 0;
                if (reply && xcb_get_property_value_length(reply) == 4)
                    std::memcpy(&named, xcb_get_property_value(reply), 4);
                std::free(reply);
                return named;
            };
            const xcb_window_t check =
                checkOf(xcb_setup_roots_iterator(xcb_get_setup(c)).data->root);
            found = check != 0 && checkOf(check) == check;
        }
        xcb_disconnect(c);
        return found;
    }

    // openbox names its check window before it handles map requests, and drops those that
    // come too early: a window of our own, mapped again until it is managed, shows it ready.
    bool managesNewWindows() const
    {
        xcb_connection_t* c = xcb_connect(display_.c_str(), nullptr);
        if (xcb_connection_has_error(c)) {
            xcb_disconnect(c);
            return false;
        }
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        const xcb_window_t window = xcb_generate_id(c);
        xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 10, 10, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
        const xcb_atom_t clientList = internAtom(c, "_NET_CLIENT_LIST");
        const bool managed = waitFor([&] {
            xcb_map_window(c, window);
            xcb_get_property_reply_t* reply = xcb_get_property_reply(
                c, xcb_get_property(c, 0, screen->root, clientList, XCB_ATOM_WINDOW, 0, 1024),
                nullptr);
            bool listed = false;
            if (reply) {
                const auto* ids = static_cast<const xcb_window_t*>(xcb_get_property_value(reply));
                const int count = xcb_get_property_value_length(reply) / 4;
                listed = std::find(ids, ids + count, window) != ids + count;
            }
            std::free(reply);
            return listed;
        });
        xcb_destroy_window(c, window);
        xcb_disconnect(c);
        return managed;
    }

    // Starts a child with one window; returns {child, helper}.
    std::pair<pid_t, pid_t> openWindow(std::string_view wmClass, bool skipTaskbar)
    {
        int fds[2];
        if (::pipe(fds) != 0)
            return {-1, -1};
        const pid_t child = ::fork();
        if (child == 0)
            runWindowChild(display_, wmClass, skipTaskbar, fds[1]);
        ::close(fds[1]);
        pid_t helper = -1;
        pollfd wait{fds[0], POLLIN, 0};
        if (::poll(&wait, 1, 15000) != 1 ||
            ::read(fds[0], &helper, sizeof helper) != static_cast<ssize_t>(sizeof helper))
            helper = -1;
        ::close(fds[0]);
        pids_.push_back(child);
        if (helper > 0)
            pids_.push_back(helper);
        return {child, helper};
    }

    DesktopApplications applications()
    {
        DesktopSources sources;
        sources.environment.applicationFolders = {tree_.path("data/applications")};
        sources.windows = makeX11Windows(display_);
        return DesktopApplications(std::move(sources));
    }

    static const RunningApp* recordOf(const RunningApps& running, pid_t pid)
    {
        const auto it = running.byPID.find(pid);
        return it == running.byPID.end() ? nullptr : it->second.get();
    }

    test::TempTree tree_;
    std::string display_;
    pid_t server_ = -1;
    pid_t windowManager_ = -1;
    std::vector<pid_t> pids_;
};

TEST_F(X11Test, WindowsBecomeApplicationsWithTheirHelpers)
{
    tree_.write("data/applications/org.example.Probe.desktop",
                "[Desktop Entry]\nType=Application\nName=Probe\nIcon=/opt/probe/probe.svg\n"
                "StartupWMClass=CorvelProbe\nExec=probe\n");
    const auto [probe, probeHelper] =
        openWindow(std::string_view("probe\0CorvelProbe\0", 18), false);
    const auto [tray, trayHelper] =
        openWindow(std::string_view("traything\0Traything\0", 20), true);
    ASSERT_GT(probeHelper, 0);
    ASSERT_GT(trayHelper, 0);

    DesktopApplications apps = applications();
    RunningApps list;
    ASSERT_TRUE(waitFor([&] {
        list = apps.list();
        return recordOf(list, probe) && recordOf(list, tray);
    })) << "the windows never reached the client list";

    const RunningApp* probeApp = recordOf(list, probe);
    EXPECT_EQ(probeApp->bundleIdentifier, "org.example.Probe");
    EXPECT_EQ(probeApp->localizedName, "Probe");
    ASSERT_TRUE(probeApp->icon);
    EXPECT_EQ(probeApp->icon->nameOrPath, "/opt/probe/probe.svg");
    EXPECT_EQ(probeApp->activationPolicy, ActivationPolicy::regular);

    const RunningApp* trayApp = recordOf(list, tray);
    EXPECT_FALSE(trayApp->bundleIdentifier);
    EXPECT_EQ(trayApp->localizedName, "Traything");
    EXPECT_EQ(trayApp->activationPolicy, ActivationPolicy::accessory);
    EXPECT_FALSE(recordOf(list, probeHelper)) << "helpers come in through their ancestors";

    // Through the real process table, the helper counts with its application.
    const auto snapshot = makeSystemSnapshotter();
    const Grouping result = runCycle(*snapshot, apps);
    const AppUsage* probeUsage = nullptr;
    for (const AppUsage& usage : result.apps)
        if (usage.id == "org.example.Probe")
            probeUsage = &usage;
    ASSERT_TRUE(probeUsage);
    EXPECT_EQ(probeUsage->name, "Probe");
    EXPECT_EQ(probeUsage->processCount, 2);
}

TEST_F(X11Test, NoWindowManagerOrNoServerListsNothing)
{
    const auto [probe, helper] = openWindow(std::string_view("probe\0Probe\0", 12), false);
    ASSERT_GT(helper, 0);
    DesktopApplications apps = applications();
    ASSERT_TRUE(waitFor([&] { return recordOf(apps.list(), probe) != nullptr; }));

    ::kill(windowManager_, SIGTERM);
    ::waitpid(windowManager_, nullptr, 0);
    ASSERT_TRUE(waitFor([&] { return !hasWindowManager(); }));
    EXPECT_EQ(recordOf(apps.list(), probe), nullptr);

    ::kill(server_, SIGKILL);
    ::waitpid(server_, nullptr, 0);
    EXPECT_TRUE(apps.list().byPID.empty()) << "a lost server is absorbed";
    EXPECT_TRUE(makeX11Windows(display_)->windows().empty());
    EXPECT_TRUE(makeX11Windows("")->windows().empty());
    EXPECT_TRUE(makeX11Windows("not a display")->windows().empty());
}

} // namespace
} // namespace corvel
