#include "display_probe.h"

#include <cstdlib>
#include <fcntl.h>
#include <string_view>
#include <unistd.h>
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

bool waylandAnswers()
{
    wl_display* display = wl_display_connect(nullptr);
    if (!display)
        return false;
    const bool ok = wl_display_roundtrip(display) >= 0;
    wl_display_disconnect(display);
    return ok;
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
        if ((x && !xAnswers()) || (wayland && !waylandAnswers()))
            continue;
        probe.usable = true;
        if (i > 0)
            probe.steerTo = candidates[i];
        return probe;
    }
    return probe;
}

} // namespace corvel
