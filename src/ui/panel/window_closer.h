#pragma once

#include "action_subject.h"

#include <memory>

namespace corvel {

// Asks an application's windows to close the way their own close button does, so that the
// application can still ask to save. Nothing is signalled here.
class WindowCloser
{
public:
    virtual ~WindowCloser() = default;
    // The number of close requests sent: 0 when the desktop offers no way to close another
    // program's windows, or the application shows none.
    virtual int closeWindowsOf(const ActionSubject& subject) = 0;
};

// The closer for this session's display server: the compositor's window management on Wayland
// (wlroots compositors, KWin), the window manager on X11; none on compositors that offer neither
// (GNOME on Wayland).
std::unique_ptr<WindowCloser> makeWindowCloser();

} // namespace corvel
