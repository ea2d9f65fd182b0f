#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace corvel {

// How a top-level window presents its application.
enum class WindowRole {
    taskbar,      // a normal window the taskbar lists
    skipsTaskbar, // the application's, but kept out of the taskbar (tray popups, utilities)
    shell,        // part of the desktop itself: docks, panels, the desktop window
};

// What the window manager's client list says about one window.
struct WindowInfo
{
    std::int32_t pid = 0; // 0: the window names no process (only docks and desktops are kept so)
    std::string wmInstance;
    std::string wmClass;
    WindowRole role = WindowRole::taskbar;
};

struct WmClass
{
    std::string instance;
    std::string cls;
};

// WM_CLASS: two NUL-terminated strings, instance then class. A missing terminator or a
// missing second string is tolerated; ill-formed UTF-8 becomes U+FFFD.
WmClass decodeWmClass(std::string_view bytes);

// _NET_WM_PID: the first CARDINAL, when it is a plausible process id.
std::optional<std::int32_t> decodeWmPid(std::span<const std::uint32_t> values);

// The atoms that decide a window's role; zero stands for an atom the server does not have.
struct WindowAtoms
{
    std::uint32_t typeNormal = 0;
    std::uint32_t typeDialog = 0;
    std::uint32_t typeDock = 0;
    std::uint32_t typeDesktop = 0;
    std::vector<std::uint32_t> otherTypes; // utility, toolbar, menu, splash, notification…
    std::uint32_t stateSkipTaskbar = 0;
};

// The role from _NET_WM_WINDOW_TYPE (the first type we know decides; none known: normal) and
// _NET_WM_STATE (skip-taskbar).
WindowRole classifyWindow(std::span<const std::uint32_t> types,
                          std::span<const std::uint32_t> states, const WindowAtoms& atoms);

// Whether a Wayland toplevel's app id names the application of desktop entry `appId` (its
// id without ".desktop"): the same ignoring case and a ".desktop" ending, or the last part of a
// reverse-domain name on one side equal to the whole of the other ("org.kde.kate" and "kate").
bool sameApplication(std::string_view appId, std::string_view toplevelAppId);

} // namespace corvel
