#pragma once

// Close requests for another program's windows, the ones its own close buttons send: the
// program may still ask to save. Dialogs (windows with a parent window) are not asked: one may
// take the request for "cancel". Each call opens a connection of its own and ends it.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace corvel {

// Asks the window manager of `display` to close each window the taskbar lists whose process is
// one of `pids`; the number of requests sent (0 also when the manager cannot close windows).
int closeX11Windows(const std::string& display, std::span<const std::int32_t> pids);

// Asks the Wayland compositor of the session to close the application's windows: through
// wlroots' foreign toplevels, which name the app id only (matched with `sameApplication`), or
// KWin's window management, which names the process. Nothing when there is no compositor,
// it offers neither or it does not answer within a second.
std::optional<int> closeWaylandWindows(std::string_view appId, std::span<const std::int32_t> pids);

} // namespace corvel
