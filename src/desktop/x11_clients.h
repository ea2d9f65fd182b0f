#pragma once

// One connection to an X server and its EWMH window manager: the top-level windows of the
// manager's client list, read in one round trip. Shared by the window source and the closer.

#include "window_props.h"

#include <string>
#include <vector>
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

namespace corvel {

class X11Clients
{
public:
    X11Clients() = default;
    X11Clients(const X11Clients&) = delete;
    X11Clients& operator=(const X11Clients&) = delete;
    ~X11Clients() { close(); }

    // False when `display` names no reachable server or its atoms cannot be had.
    bool open(const std::string& display);
    void close();
    bool isOpen() const { return connection_ != nullptr; }
    bool broken() const { return connection_ && xcb_connection_has_error(connection_); }

    struct Client
    {
        xcb_window_t window = 0;
        WindowInfo info;
    };
    // The manager's clients that name a process of this machine (docks and desktops that name
    // none are kept too); nothing without a live EWMH window manager.
    std::vector<Client> read();

    xcb_connection_t* connection() const { return connection_; }
    xcb_ewmh_connection_t& ewmh() { return ewmh_; }
    int screen() const { return screen_; }

private:
    xcb_get_property_cookie_t request(xcb_window_t window, xcb_atom_t property);
    bool hasWindowManager(xcb_get_property_cookie_t rootCheck);

    std::string host_;
    xcb_connection_t* connection_ = nullptr;
    xcb_ewmh_connection_t ewmh_{};
    bool ewmhReady_ = false;
    int screen_ = 0;
    WindowAtoms atoms_;
};

} // namespace corvel
