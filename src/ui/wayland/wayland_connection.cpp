#include "wayland_connection.h"

#include "viewporter-client-protocol.h"
#include "wlr-layer-shell-unstable-v1-client-protocol.h"
#include "xdg-shell-client-protocol.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <wayland-client.h>

#include <QSocketNotifier>

namespace corvel {
namespace {

template <typename Proxy>
Proxy* bind(wl_registry* registry, uint32_t name, const wl_interface* interface, uint32_t offered,
            uint32_t wanted)
{
    return static_cast<Proxy*>(
        wl_registry_bind(registry, name, interface, std::min(offered, wanted)));
}

} // namespace

// A round trip the compositor has not answered yet. The connection owns it, so one that dies
// first frees it with itself.
struct WaylandConnection::RoundTrip
{
    WaylandConnection* connection;
    wl_callback* callback;
    std::function<void()> done;

    static void fired(void* data, wl_callback*, uint32_t)
    {
        auto* self = static_cast<RoundTrip*>(data);
        auto& pending = self->connection->roundTrips_;
        const auto it = std::find_if(pending.begin(), pending.end(),
                                     [&](const auto& trip) { return trip.get() == self; });
        const auto done = std::move(self->done);
        pending.erase(it); // before `done`, which may end the connection
        done();
    }
    ~RoundTrip() { wl_callback_destroy(callback); }
};

namespace {
const wl_callback_listener roundTripListener{.done = &WaylandConnection::RoundTrip::fired};

void ignoreGeometry(void*, wl_output*, int32_t, int32_t, int32_t, int32_t, int32_t, const char*,
                    const char*, int32_t)
{}
void ignoreMode(void*, wl_output*, uint32_t, int32_t, int32_t, int32_t) {}
void ignoreDone(void*, wl_output*) {}

// A compositor may end clients that leave its pings unanswered.
const xdg_wm_base_listener pingListener{
    .ping = [](void*, xdg_wm_base* base, uint32_t serial) { xdg_wm_base_pong(base, serial); }};

} // namespace

std::unique_ptr<WaylandConnection> WaylandConnection::open()
{
    const char* name = std::getenv("WAYLAND_DISPLAY");
    if (!name || !*name)
        return nullptr;
    std::unique_ptr<WaylandConnection> self(new WaylandConnection);
    self->display_ = wl_display_connect(nullptr);
    if (!self->display_)
        return nullptr;
    static const wl_registry_listener listener{.global = &WaylandConnection::global,
                                               .global_remove = &WaylandConnection::globalRemove};
    self->registry_ = wl_display_get_registry(self->display_);
    wl_registry_add_listener(self->registry_, &listener, self.get());
    if (wl_display_roundtrip(self->display_) < 0)
        return nullptr;
    if (!self->layerShell_ || !self->compositor_ || !self->shm_ || !self->seat_)
        return nullptr;

    self->readable_ =
        new QSocketNotifier(wl_display_get_fd(self->display_), QSocketNotifier::Read, self.get());
    connect(self->readable_, &QSocketNotifier::activated, self.get(), &WaylandConnection::dispatch);
    return self;
}

WaylandConnection::~WaylandConnection()
{
    roundTrips_.clear();
    for (const Output& output : outputs_)
        wl_output_destroy(output.output);
    if (viewporter_)
        wp_viewporter_destroy(viewporter_);
    if (windowManager_)
        xdg_wm_base_destroy(windowManager_);
    if (layerShell_)
        zwlr_layer_shell_v1_destroy(layerShell_);
    if (seat_)
        wl_seat_destroy(seat_);
    if (shm_)
        wl_shm_destroy(shm_);
    if (compositor_)
        wl_compositor_destroy(compositor_);
    if (registry_)
        wl_registry_destroy(registry_);
    if (display_)
        wl_display_disconnect(display_);
}

void WaylandConnection::global(void* data, wl_registry* registry, uint32_t name,
                               const char* interface, uint32_t version)
{
    auto* self = static_cast<WaylandConnection*>(data);
    const auto is = [interface](const wl_interface& known) {
        return std::strcmp(interface, known.name) == 0;
    };
    if (is(wl_compositor_interface) && !self->compositor_)
        self->compositor_ =
            bind<wl_compositor>(registry, name, &wl_compositor_interface, version, 4);
    else if (is(wl_shm_interface) && !self->shm_)
        self->shm_ = bind<wl_shm>(registry, name, &wl_shm_interface, version, 1);
    else if (is(wl_seat_interface) && !self->seat_)
        self->seat_ = bind<wl_seat>(registry, name, &wl_seat_interface, version, 5);
    else if (is(zwlr_layer_shell_v1_interface) && !self->layerShell_)
        self->layerShell_ =
            bind<zwlr_layer_shell_v1>(registry, name, &zwlr_layer_shell_v1_interface, version, 1);
    else if (is(wp_viewporter_interface) && !self->viewporter_)
        self->viewporter_ =
            bind<wp_viewporter>(registry, name, &wp_viewporter_interface, version, 1);
    else if (is(xdg_wm_base_interface) && !self->windowManager_) {
        self->windowManager_ =
            bind<xdg_wm_base>(registry, name, &xdg_wm_base_interface, version, 1);
        xdg_wm_base_add_listener(self->windowManager_, &pingListener, nullptr);
    } else if (is(wl_output_interface) && version >= 2) { // scale came with version 2
        static const wl_output_listener listener{.geometry = &ignoreGeometry,
                                                 .mode = &ignoreMode,
                                                 .done = &ignoreDone,
                                                 .scale = &WaylandConnection::outputScaled};
        auto* output = bind<wl_output>(registry, name, &wl_output_interface, version, 2);
        wl_output_add_listener(output, &listener, self);
        self->outputs_.push_back({name, output, 1});
    }
}

void WaylandConnection::globalRemove(void* data, wl_registry*, uint32_t name)
{
    auto& outputs = static_cast<WaylandConnection*>(data)->outputs_;
    const auto gone = std::find_if(outputs.begin(), outputs.end(),
                                   [name](const Output& output) { return output.name == name; });
    if (gone == outputs.end())
        return;
    wl_output_destroy(gone->output);
    outputs.erase(gone);
}

void WaylandConnection::outputScaled(void* data, wl_output* output, int32_t factor)
{
    for (Output& known : static_cast<WaylandConnection*>(data)->outputs_)
        if (known.output == output)
            known.scale = std::clamp(factor, 1, 8);
}

int WaylandConnection::outputScale() const
{
    int scale = 1;
    for (const Output& output : outputs_)
        scale = std::max(scale, output.scale);
    return scale;
}

void WaylandConnection::flush()
{
    if (!broken_ && wl_display_flush(display_) < 0 && errno != EAGAIN)
        fail();
}

void WaylandConnection::afterRoundTrip(std::function<void()> done)
{
    auto& trip =
        roundTrips_.emplace_back(new RoundTrip{this, wl_display_sync(display_), std::move(done)});
    wl_callback_add_listener(trip->callback, &roundTripListener, trip.get());
    flush();
}

void WaylandConnection::dispatch()
{
    if (broken_)
        return;
    // The socket is readable, so this reads without blocking.
    if (wl_display_dispatch(display_) < 0)
        fail();
    else
        flush();
}

void WaylandConnection::fail()
{
    broken_ = true;
    readable_->setEnabled(false);
    emit lost();
}

} // namespace corvel
