#pragma once

// How tall a maximized window would be on the output: the compositor leaves out what every bar
// reserves, those that are not layer surfaces included. Asked through a window that is never
// shown (it gets no buffer), so no taskbar lists it.

#include <functional>

#include <QSize>

struct wl_surface;
struct xdg_surface;
struct xdg_surface_listener;
struct xdg_toplevel;
struct xdg_toplevel_listener;

namespace corvel {

class WaylandConnection;

class MaximizedProbe final
{
public:
    // Asks at once; `answered` runs when the compositor has told the size (empty when it
    // leaves the size to the window). Nothing runs once this is gone.
    MaximizedProbe(WaylandConnection& connection, std::function<void(QSize)> answered);
    ~MaximizedProbe();
    MaximizedProbe(const MaximizedProbe&) = delete;
    MaximizedProbe& operator=(const MaximizedProbe&) = delete;

private:
    static const xdg_surface_listener surfaceListener;
    static const xdg_toplevel_listener toplevelListener;

    wl_surface* surface_ = nullptr;
    xdg_surface* xdgSurface_ = nullptr;
    xdg_toplevel* toplevel_ = nullptr;
    QSize size_;
    std::function<void(QSize)> answered_;
};

} // namespace corvel
