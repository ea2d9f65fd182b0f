#pragma once

// A connection of our own to the Wayland compositor, for the surfaces Qt cannot make: the
// globals the panel needs, dispatched from Qt's event loop. Used only when the session's
// compositor offers the layer shell; elsewhere nothing here is touched.

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include <QObject>

class QSocketNotifier;
struct wl_compositor;
struct wl_display;
struct wl_output;
struct wl_registry;
struct wl_seat;
struct wl_shm;
struct wp_viewporter;
struct xdg_wm_base;
struct zwlr_layer_shell_v1;

namespace corvel {

class WaylandConnection final : public QObject
{
    Q_OBJECT

public:
    // Null when WAYLAND_DISPLAY is unset or refuses, or the compositor lacks the layer shell,
    // shared memory or a seat.
    static std::unique_ptr<WaylandConnection> open();
    ~WaylandConnection() override;

    wl_compositor* compositor() const { return compositor_; }
    wl_shm* shm() const { return shm_; }
    wl_seat* seat() const { return seat_; }
    zwlr_layer_shell_v1* layerShell() const { return layerShell_; }
    wp_viewporter* viewporter() const { return viewporter_; }     // may be null
    xdg_wm_base* windowManager() const { return windowManager_; } // may be null
    // The largest scale of the outputs (1 before they tell it): what the panel is drawn at, so
    // that it is sharp wherever it shows, whatever scale the toolkit's own display has.
    int outputScale() const;
    bool broken() const { return broken_; }

    // Sends what is queued; call after a batch of requests.
    void flush();
    // Runs `done` once the compositor has handled every request sent before this call.
    void afterRoundTrip(std::function<void()> done);

    struct RoundTrip;

signals:
    // The compositor went away or rejected a request: the connection is of no further use.
    void lost();

private:
    WaylandConnection() = default;
    void dispatch();
    void fail();
    static void global(void* data, wl_registry* registry, uint32_t name, const char* interface,
                       uint32_t version);
    static void globalRemove(void* data, wl_registry* registry, uint32_t name);
    static void outputScaled(void* data, wl_output* output, int32_t factor);

    struct Output
    {
        uint32_t name = 0;
        wl_output* output = nullptr;
        int scale = 1;
    };

    wl_display* display_ = nullptr;
    wl_registry* registry_ = nullptr;
    wl_compositor* compositor_ = nullptr;
    wl_shm* shm_ = nullptr;
    wl_seat* seat_ = nullptr;
    zwlr_layer_shell_v1* layerShell_ = nullptr;
    wp_viewporter* viewporter_ = nullptr;
    xdg_wm_base* windowManager_ = nullptr;
    std::vector<Output> outputs_;
    QSocketNotifier* readable_ = nullptr;
    bool broken_ = false;
    std::vector<std::unique_ptr<RoundTrip>> roundTrips_; // sent, not answered yet
};

} // namespace corvel
