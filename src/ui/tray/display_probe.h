#pragma once

// Whether the session's display answers, found before the toolkit starts: Qt aborts the
// program when the display it picks refuses the connection or its authorization.

#include <string>

namespace corvel {

struct DisplayProbe
{
    bool usable = false;
    // What the toolkit must be told to use instead of its own first choice, which does not
    // answer or cannot place the panel ("xcb" or "wayland"); empty when its own choice is fine.
    std::string steerTo;
    // For the terminal when nothing answers: which displays were tried.
    std::string tried;
};

// Tries the displays in the order Qt would (QT_QPA_PLATFORM, else Wayland when
// WAYLAND_DISPLAY or XDG_SESSION_TYPE says so, then X when DISPLAY is set), each at most once.
// On a compositor without the layer shell whose Xwayland answers, steers to X11.
DisplayProbe probeDisplay();

// Tells Qt, before its application object exists, what the probe chose.
void chooseQtPlatform(const DisplayProbe& probe);

} // namespace corvel
