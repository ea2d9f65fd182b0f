#pragma once

namespace corvel {

// Sets up Qt's platform before the application object exists. On a Wayland compositor without
// the layer shell (GNOME Shell's), a window of Qt's own can be neither placed at the status
// item nor kept out of the window list; through Xwayland it can. So there, when the user has
// not chosen a platform and the X display answers, Qt is told to use X11. On Wayland, Qt is
// also told to draw no window decorations: the panel has none, and asking whether it could
// loads the whole OpenGL stack (some 50 MB) into a program that only ever draws in memory.
void prepareQtPlatform();

} // namespace corvel
