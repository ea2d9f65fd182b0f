#include "display_probe.h"

#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <string_view>
#include <unistd.h>
#include <utility>
#include <vector>
#include <wayland-client.h>
#include <xcb/xcb.h>

namespace corvel {
namespace {

std::string environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

// Connects and leaves again; a refused socket or failed authorization leaves an error on
// the connection. xcb writes the server's refusal to standard error itself; the caller says
// what happened in one line of its own.
bool xAnswers()
{
    const int saved = dup(STDERR_FILENO);
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0)
        dup2(null, STDERR_FILENO);
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (saved >= 0) {
        dup2(saved, STDERR_FILENO);
        close(saved);
    }
    if (null >= 0)
        close(null);
    const bool ok = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    return ok;
}

void noteGlobal(void* data, wl_registry*, uint32_t, const char* interface, uint32_t)
{
    if (std::string_view(interface) == "zwlr_layer_shell_v1")
        *static_cast<bool*>(data) = true;
}

void forgetGlobal(void*, wl_registry*, uint32_t) {}

// Whether the compositor answers, and if so whether it offers the layer shell.
std::optional<bool> waylandLayerShell()
{
    wl_display* display = wl_display_connect(nullptr);
    if (!display)
        return std::nullopt;
    bool layerShell = false;
    static const wl_registry_listener listener{.global = &noteGlobal,
                                               .global_remove = &forgetGlobal};
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &listener, &layerShell);
    const bool answered = wl_display_roundtrip(display) >= 0;
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return answered ? std::optional(layerShell) : std::nullopt;
}

std::vector<std::string> split(const std::string& list)
{
    std::vector<std::string> parts;
    std::string_view rest = list;
    while (!rest.empty()) {
        const auto end = rest.find(';');
        if (end != 0)
            parts.emplace_back(rest.substr(0, end));
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    }
    return parts;
}

} // namespace

DisplayProbe probeDisplay()
{
    std::vector<std::string> candidates = split(environment("QT_QPA_PLATFORM"));
    if (candidates.empty()) {
        if (!environment("WAYLAND_DISPLAY").empty() || environment("XDG_SESSION_TYPE") == "wayland")
            candidates.emplace_back("wayland");
        if (!environment("DISPLAY").empty())
            candidates.emplace_back("xcb");
    }
    DisplayProbe probe;
    // Each display is connected to once, whatever asks about it.
    std::optional<bool> x11, layerShell;
    bool waylandTried = false;
    const auto xOk = [&] { return x11 ? *x11 : *(x11 = xAnswers()); };
    const auto waylandOk = [&] {
        if (!std::exchange(waylandTried, true))
            layerShell = waylandLayerShell();
        return layerShell.has_value();
    };
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        // "wayland-egl", "xcb:option=value": the plugin's name comes first.
        const std::string name = candidates[i].substr(0, candidates[i].find(':'));
        const bool x = name == "xcb";
        const bool wayland = name.rfind("wayland", 0) == 0;
        if (x || wayland) {
            probe.tried += (probe.tried.empty() ? "" : ", ") +
                           (x ? "DISPLAY=" + environment("DISPLAY")
                              : "WAYLAND_DISPLAY=" + environment("WAYLAND_DISPLAY"));
        }
        if ((x && !xOk()) || (wayland && !waylandOk()))
            continue;
        probe.usable = true;
        if (i > 0)
            probe.steerTo = candidates[i];
        // On a compositor without the layer shell (GNOME Shell's), a window of Qt's own can be
        // neither placed at the status item nor kept out of the window list; through Xwayland
        // it can. So there, unless the user chose a platform, Qt is told to use X11.
        if (wayland && i == 0 && environment("QT_QPA_PLATFORM").empty() &&
            !environment("DISPLAY").empty() && layerShell == false && xOk())
            probe.steerTo = "xcb";
        return probe;
    }
    return probe;
}

void chooseQtPlatform(const DisplayProbe& probe)
{
    if (!probe.steerTo.empty())
        setenv("QT_QPA_PLATFORM", probe.steerTo.c_str(), 1);
    // The panel has no window decorations, and asking whether it could loads the whole OpenGL
    // stack (some 50 MB) into a program that only ever draws in memory.
    if (!environment("WAYLAND_DISPLAY").empty())
        setenv("QT_WAYLAND_DISABLE_WINDOWDECORATION", "1", 0);
}

} // namespace corvel
