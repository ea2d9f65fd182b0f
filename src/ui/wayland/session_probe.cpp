#include "session_probe.h"

#include <cstdlib>
#include <cstring>
#include <wayland-client.h>
#include <xcb/xcb.h>

namespace corvel {
namespace {

bool set(const char* name)
{
    const char* value = std::getenv(name);
    return value && *value;
}

void noteGlobal(void* data, wl_registry*, uint32_t, const char* interface, uint32_t)
{
    if (std::strcmp(interface, "zwlr_layer_shell_v1") == 0)
        *static_cast<bool*>(data) = true;
}

void forgetGlobal(void*, wl_registry*, uint32_t) {}

// True when the compositor answers and lists no layer shell among its globals.
bool compositorLacksLayerShell()
{
    wl_display* display = wl_display_connect(nullptr);
    if (!display)
        return false;
    bool layerShell = false;
    static const wl_registry_listener listener{.global = &noteGlobal,
                                               .global_remove = &forgetGlobal};
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &listener, &layerShell);
    const bool answered = wl_display_roundtrip(display) >= 0;
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return answered && !layerShell;
}

bool xDisplayAnswers()
{
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const bool answers = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    return answers;
}

} // namespace

void prepareQtPlatform()
{
    if (!set("WAYLAND_DISPLAY"))
        return;
    setenv("QT_WAYLAND_DISABLE_WINDOWDECORATION", "1", 0);
    if (set("QT_QPA_PLATFORM") || !set("DISPLAY"))
        return;
    if (compositorLacksLayerShell() && xDisplayAnswers())
        setenv("QT_QPA_PLATFORM", "xcb", 1);
}

} // namespace corvel
