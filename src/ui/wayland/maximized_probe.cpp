#include "maximized_probe.h"

#include "wayland_connection.h"
#include "xdg-shell-client-protocol.h"

#include <utility>
#include <wayland-client.h>

namespace corvel {

// The toplevel's configure comes first with the size, then the surface's closes the set.
const xdg_surface_listener MaximizedProbe::surfaceListener{
    .configure = [](void* data, xdg_surface*, uint32_t) {
        auto* self = static_cast<MaximizedProbe*>(data);
        if (auto answered = std::exchange(self->answered_, nullptr))
            answered(self->size_);
    }};

const xdg_toplevel_listener MaximizedProbe::toplevelListener{
    .configure =
        [](void* data, xdg_toplevel*, int32_t width, int32_t height, wl_array*) {
            static_cast<MaximizedProbe*>(data)->size_ = QSize(width, height);
        },
    .close = [](void*, xdg_toplevel*) {}};

MaximizedProbe::MaximizedProbe(WaylandConnection& connection, std::function<void(QSize)> answered)
    : answered_(std::move(answered))
{
    if (!connection.windowManager())
        return;
    surface_ = wl_compositor_create_surface(connection.compositor());
    xdgSurface_ = xdg_wm_base_get_xdg_surface(connection.windowManager(), surface_);
    xdg_surface_add_listener(xdgSurface_, &surfaceListener, this);
    toplevel_ = xdg_surface_get_toplevel(xdgSurface_);
    xdg_toplevel_add_listener(toplevel_, &toplevelListener, this);
    xdg_toplevel_set_maximized(toplevel_);
    wl_surface_commit(surface_);
    connection.flush();
}

MaximizedProbe::~MaximizedProbe()
{
    if (toplevel_)
        xdg_toplevel_destroy(toplevel_);
    if (xdgSurface_)
        xdg_surface_destroy(xdgSurface_);
    if (surface_)
        wl_surface_destroy(surface_);
}

} // namespace corvel
