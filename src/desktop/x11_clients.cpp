#include "x11_clients.h"

#include <cstdlib>
#include <cstring>
#include <span>
#include <string_view>
#include <unistd.h>

namespace corvel {
namespace {

constexpr std::uint32_t maxPropertyWords = 1024;

std::string hostName()
{
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return {};
    return name;
}

// The property's bytes, or nothing when the window or the property is gone.
struct Property
{
    xcb_get_property_reply_t* reply = nullptr;
    Property(xcb_connection_t* connection, xcb_get_property_cookie_t cookie)
        : reply(xcb_get_property_reply(connection, cookie, nullptr))
    {}
    Property(const Property&) = delete;
    Property& operator=(const Property&) = delete;
    ~Property() { std::free(reply); }

    std::string_view bytes() const
    {
        if (!reply || reply->format != 8)
            return {};
        return {static_cast<const char*>(xcb_get_property_value(reply)),
                static_cast<std::size_t>(xcb_get_property_value_length(reply))};
    }
    std::span<const std::uint32_t> words() const
    {
        if (!reply || reply->format != 32)
            return {};
        return {static_cast<const std::uint32_t*>(xcb_get_property_value(reply)),
                static_cast<std::size_t>(xcb_get_property_value_length(reply)) / 4};
    }
};

} // namespace

bool X11Clients::open(const std::string& display)
{
    close();
    if (display.empty())
        return false;
    host_ = hostName();
    connection_ = xcb_connect(display.c_str(), &screen_);
    if (xcb_connection_has_error(connection_)) {
        close();
        return false;
    }
    std::memset(&ewmh_, 0, sizeof ewmh_);
    xcb_intern_atom_cookie_t* cookies = xcb_ewmh_init_atoms(connection_, &ewmh_);
    if (!cookies || !xcb_ewmh_init_atoms_replies(&ewmh_, cookies, nullptr) || screen_ < 0 ||
        screen_ >= ewmh_.nb_screens) {
        close();
        return false;
    }
    ewmhReady_ = true;
    atoms_.typeNormal = ewmh_._NET_WM_WINDOW_TYPE_NORMAL;
    atoms_.typeDialog = ewmh_._NET_WM_WINDOW_TYPE_DIALOG;
    atoms_.typeDock = ewmh_._NET_WM_WINDOW_TYPE_DOCK;
    atoms_.typeDesktop = ewmh_._NET_WM_WINDOW_TYPE_DESKTOP;
    atoms_.otherTypes = {
        ewmh_._NET_WM_WINDOW_TYPE_UTILITY,       ewmh_._NET_WM_WINDOW_TYPE_TOOLBAR,
        ewmh_._NET_WM_WINDOW_TYPE_MENU,          ewmh_._NET_WM_WINDOW_TYPE_SPLASH,
        ewmh_._NET_WM_WINDOW_TYPE_DROPDOWN_MENU, ewmh_._NET_WM_WINDOW_TYPE_POPUP_MENU,
        ewmh_._NET_WM_WINDOW_TYPE_TOOLTIP,       ewmh_._NET_WM_WINDOW_TYPE_NOTIFICATION,
        ewmh_._NET_WM_WINDOW_TYPE_COMBO,         ewmh_._NET_WM_WINDOW_TYPE_DND};
    atoms_.stateSkipTaskbar = ewmh_._NET_WM_STATE_SKIP_TASKBAR;
    return true;
}

void X11Clients::close()
{
    if (ewmhReady_)
        xcb_ewmh_connection_wipe(&ewmh_);
    ewmhReady_ = false;
    if (connection_)
        xcb_disconnect(connection_);
    connection_ = nullptr;
}

xcb_get_property_cookie_t X11Clients::request(xcb_window_t window, xcb_atom_t property)
{
    return xcb_get_property(connection_, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0,
                            maxPropertyWords);
}

// An EWMH window manager names a check window on the root, and the check window names
// itself; a manager that died leaves the root's property behind, pointing nowhere.
bool X11Clients::hasWindowManager(xcb_get_property_cookie_t rootCheck)
{
    xcb_window_t check = 0;
    xcb_window_t self = 0;
    return xcb_ewmh_get_supporting_wm_check_reply(&ewmh_, rootCheck, &check, nullptr) &&
           check != 0 &&
           xcb_ewmh_get_supporting_wm_check_reply(
               &ewmh_, xcb_ewmh_get_supporting_wm_check(&ewmh_, check), &self, nullptr) &&
           self == check;
}

std::vector<X11Clients::Client> X11Clients::read()
{
    if (!connection_)
        return {};
    const xcb_window_t root = ewmh_.screens[screen_]->root;
    const auto rootCheck = xcb_ewmh_get_supporting_wm_check(&ewmh_, root);
    const auto clientList = xcb_ewmh_get_client_list(&ewmh_, screen_);
    const bool managed = hasWindowManager(rootCheck);
    xcb_ewmh_get_windows_reply_t clients{};
    if (!xcb_ewmh_get_client_list_reply(&ewmh_, clientList, &clients, nullptr))
        return {};
    if (!managed) {
        xcb_ewmh_get_windows_reply_wipe(&clients);
        return {};
    }

    // Ask for every property of every window first, then collect: one round trip for all.
    struct Pending
    {
        xcb_window_t window;
        xcb_get_property_cookie_t pid, wmClass, machine, type, state;
    };
    std::vector<Pending> pending;
    pending.reserve(clients.windows_len);
    for (std::uint32_t i = 0; i < clients.windows_len; ++i) {
        const xcb_window_t w = clients.windows[i];
        pending.push_back({w, request(w, ewmh_._NET_WM_PID), request(w, XCB_ATOM_WM_CLASS),
                           request(w, XCB_ATOM_WM_CLIENT_MACHINE),
                           request(w, ewmh_._NET_WM_WINDOW_TYPE), request(w, ewmh_._NET_WM_STATE)});
    }
    xcb_ewmh_get_windows_reply_wipe(&clients);

    std::vector<Client> result;
    for (const Pending& p : pending) {
        const Property pid(connection_, p.pid), wmClass(connection_, p.wmClass),
            machine(connection_, p.machine), type(connection_, p.type), state(connection_, p.state);
        const auto processId = decodeWmPid(pid.words());
        const WindowRole role = classifyWindow(type.words(), state.words(), atoms_);
        // A pid set by a client on another machine names some other process here. A dock or
        // desktop window that names no process (tint2's) is kept for its class.
        const std::string_view client = machine.bytes().substr(0, machine.bytes().find('\0'));
        if ((!processId && role != WindowRole::shell) ||
            (!client.empty() && !host_.empty() && client != host_))
            continue;
        WmClass names = decodeWmClass(wmClass.bytes());
        result.push_back(
            {p.window,
             {processId.value_or(0), std::move(names.instance), std::move(names.cls), role}});
    }
    return result;
}

} // namespace corvel
