#pragma once

namespace corvel {

// Chooses Qt's platform before the application object exists. On a Wayland compositor without
// the layer shell (GNOME Shell's), a window of Qt's own can be neither placed at the status
// item nor kept out of the window list; through Xwayland it can. So there, when the user has
// not chosen a platform and the X display answers, Qt is told to use X11.
void preferXwaylandWithoutLayerShell();

} // namespace corvel
