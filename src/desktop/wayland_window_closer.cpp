#include "plasma-window-management-client-protocol.h"
#include "window_closing.h"
#include "window_props.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <poll.h>
#include <string>
#include <vector>
#include <wayland-client.h>

namespace corvel {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto answerWithin = std::chrono::seconds(1);
constexpr std::uint32_t skipTaskbar = ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_SKIPTASKBAR;

// Events are told apart by name: one small function per kind of object instead of a listener
// with a slot for each of the many events these objects have.
using Handler = void (*)(void* owner, void* proxy, std::string_view event, const wl_argument*);
int dispatch(const void* handler, void* target, uint32_t, const wl_message* message,
             wl_argument* args)
{
    auto* proxy = static_cast<wl_proxy*>(target);
    (*static_cast<const Handler*>(handler))(wl_proxy_get_user_data(proxy), proxy, message->name,
                                            args);
    return 0;
}
void listen(void* proxy, const Handler& handler, void* owner)
{
    wl_proxy_add_dispatcher(static_cast<wl_proxy*>(proxy), &dispatch, &handler, owner);
}

struct Toplevel
{
    void* proxy = nullptr;
    std::string appId;
    std::uint32_t pid = 0;
    std::uint32_t state = 0;
    bool dialog = false; // another window's transient: asked to close, it may just cancel
    bool gone = false;
};

class Session
{
public:
    ~Session()
    {
        for (const Toplevel& toplevel : toplevels_)
            wl_proxy_destroy(static_cast<wl_proxy*>(toplevel.proxy));
        for (void* proxy :
             {static_cast<void*>(plasma_), static_cast<void*>(wlr_), static_cast<void*>(registry_)})
            if (proxy)
                wl_proxy_destroy(static_cast<wl_proxy*>(proxy));
        if (display_)
            wl_display_disconnect(display_);
    }

    std::optional<int> close(std::string_view appId, std::span<const std::int32_t> pids)
    {
        deadline_ = Clock::now() + answerWithin;
        const char* name = std::getenv("WAYLAND_DISPLAY");
        if (!name || !*name || !(display_ = wl_display_connect(nullptr)))
            return std::nullopt;
        registry_ = wl_display_get_registry(display_);
        listen(registry_, onRegistryEvent, this);
        if (!roundTrip())
            return std::nullopt;
        if (plasmaName_) { // names the process: exact, so preferred
            plasma_ = static_cast<org_kde_plasma_window_management*>(wl_registry_bind(
                registry_, plasmaName_, &org_kde_plasma_window_management_interface,
                std::min(plasmaVersion_, 16u)));
            listen(plasma_, onPlasmaEvent, this);
        } else if (wlrName_) {
            wlr_ = static_cast<zwlr_foreign_toplevel_manager_v1*>(
                wl_registry_bind(registry_, wlrName_, &zwlr_foreign_toplevel_manager_v1_interface,
                                 std::min(wlrVersion_, 3u)));
            listen(wlr_, onWlrEvent, this);
        } else {
            return std::nullopt;
        }
        // The windows, then (KWin) what each one says about itself.
        if (!roundTrip() || (plasma_ && !roundTrip()))
            return std::nullopt;

        int sent = 0;
        for (const Toplevel& toplevel : toplevels_) {
            const bool ours =
                plasma_ ? std::find(pids.begin(), pids.end(),
                                    static_cast<std::int32_t>(toplevel.pid)) != pids.end() &&
                              !(toplevel.state & skipTaskbar)
                        : sameApplication(appId, toplevel.appId);
            if (!ours || toplevel.dialog || toplevel.gone)
                continue;
            if (plasma_)
                org_kde_plasma_window_close(static_cast<org_kde_plasma_window*>(toplevel.proxy));
            else
                zwlr_foreign_toplevel_handle_v1_close(
                    static_cast<zwlr_foreign_toplevel_handle_v1*>(toplevel.proxy));
            ++sent;
        }
        // Handled without a protocol error before the connection ends.
        return roundTrip() ? std::optional(sent) : std::nullopt;
    }

private:
    static void registryEvent(void* owner, void*, std::string_view event, const wl_argument* args)
    {
        auto* self = static_cast<Session*>(owner);
        if (event != "global")
            return;
        const std::string_view interface = args[1].s ? args[1].s : "";
        if (interface == org_kde_plasma_window_management_interface.name)
            self->plasmaName_ = args[0].u, self->plasmaVersion_ = args[2].u;
        else if (interface == zwlr_foreign_toplevel_manager_v1_interface.name)
            self->wlrName_ = args[0].u, self->wlrVersion_ = args[2].u;
    }

    static void plasmaEvent(void* owner, void*, std::string_view event, const wl_argument* args)
    {
        auto* self = static_cast<Session*>(owner);
        const bool byUuid = wl_proxy_get_version(reinterpret_cast<wl_proxy*>(self->plasma_)) >= 13;
        org_kde_plasma_window* window = nullptr;
        if (byUuid && event == "window_with_uuid" && args[1].s)
            window = org_kde_plasma_window_management_get_window_by_uuid(self->plasma_, args[1].s);
        else if (!byUuid && event == "window")
            window = org_kde_plasma_window_management_get_window(self->plasma_, args[0].u);
        if (!window)
            return;
        self->toplevels_.push_back({window});
        listen(window, onToplevelEvent, self);
    }

    static void wlrEvent(void* owner, void*, std::string_view event, const wl_argument* args)
    {
        auto* self = static_cast<Session*>(owner);
        if (event != "toplevel" || !args[0].o)
            return;
        self->toplevels_.push_back({args[0].o});
        listen(args[0].o, onToplevelEvent, self);
    }

    // Events of both kinds of window: wlroots' app_id, parent and closed; KWin's app_id_changed,
    // pid_changed, state_changed, parent_window and unmapped.
    static void toplevelEvent(void* owner, void* proxy, std::string_view event,
                              const wl_argument* args)
    {
        auto& toplevels = static_cast<Session*>(owner)->toplevels_;
        const auto it = std::find_if(toplevels.begin(), toplevels.end(),
                                     [&](const Toplevel& t) { return t.proxy == proxy; });
        if (it == toplevels.end())
            return;
        if (event == "app_id" || event == "app_id_changed")
            it->appId = args[0].s ? args[0].s : "";
        else if (event == "pid_changed")
            it->pid = args[0].u;
        else if (event == "state_changed")
            it->state = args[0].u;
        else if (event == "parent" || event == "parent_window")
            it->dialog = args[0].o != nullptr;
        else if (event == "closed" || event == "unmapped")
            it->gone = true;
    }

    // Every request sent so far handled, and its events dispatched; false when the compositor
    // is gone, refused a request or did not answer in time (all round trips together).
    bool roundTrip()
    {
        bool done = false;
        wl_callback* callback = wl_display_sync(display_);
        static const wl_callback_listener listener{
            .done = [](void* data, wl_callback*, uint32_t) { *static_cast<bool*>(data) = true; }};
        wl_callback_add_listener(callback, &listener, &done);
        while (!done && !wl_display_get_error(display_)) {
            if (wl_display_prepare_read(display_) != 0) { // events already queued
                if (wl_display_dispatch_pending(display_) < 0)
                    break;
                continue;
            }
            wl_display_flush(display_);
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(deadline_ - Clock::now()).count();
            pollfd readable{wl_display_get_fd(display_), POLLIN, 0};
            if (left <= 0 || ::poll(&readable, 1, static_cast<int>(left)) <= 0) {
                wl_display_cancel_read(display_);
                break;
            }
            if (wl_display_read_events(display_) < 0 || wl_display_dispatch_pending(display_) < 0)
                break;
        }
        wl_callback_destroy(callback);
        return done && !wl_display_get_error(display_);
    }

    // Kept where the dispatcher can point to them.
    static constexpr Handler onRegistryEvent = &registryEvent, onPlasmaEvent = &plasmaEvent,
                             onWlrEvent = &wlrEvent, onToplevelEvent = &toplevelEvent;

    Clock::time_point deadline_;
    wl_display* display_ = nullptr;
    wl_registry* registry_ = nullptr;
    std::uint32_t plasmaName_ = 0, plasmaVersion_ = 0, wlrName_ = 0, wlrVersion_ = 0;
    org_kde_plasma_window_management* plasma_ = nullptr;
    zwlr_foreign_toplevel_manager_v1* wlr_ = nullptr;
    std::vector<Toplevel> toplevels_;
};

} // namespace

std::optional<int> closeWaylandWindows(std::string_view appId, std::span<const std::int32_t> pids)
{
    return Session().close(appId, pids);
}

} // namespace corvel
