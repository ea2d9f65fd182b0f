#include "window_closing.h"
#include "x11_clients.h"

#include <algorithm>
#include <cstdlib>
#include <utility>
#include <vector>

namespace corvel {
namespace {

bool managerCloses(X11Clients& clients)
{
    xcb_ewmh_get_atoms_reply_t supported{};
    xcb_ewmh_connection_t& ewmh = clients.ewmh();
    if (!xcb_ewmh_get_supported_reply(&ewmh, xcb_ewmh_get_supported(&ewmh, clients.screen()),
                                      &supported, nullptr))
        return false;
    const bool closes = std::find(supported.atoms, supported.atoms + supported.atoms_len,
                                  ewmh._NET_CLOSE_WINDOW) != supported.atoms + supported.atoms_len;
    xcb_ewmh_get_atoms_reply_wipe(&supported);
    return closes;
}

} // namespace

int closeX11Windows(const std::string& display, std::span<const std::int32_t> pids)
{
    X11Clients clients;
    if (pids.empty() || !clients.open(display) || !managerCloses(clients))
        return 0;
    xcb_connection_t* connection = clients.connection();
    std::vector<std::pair<xcb_window_t, xcb_get_property_cookie_t>> windows;
    for (const X11Clients::Client& client : clients.read())
        if (client.info.role == WindowRole::taskbar &&
            std::find(pids.begin(), pids.end(), client.info.pid) != pids.end())
            windows.emplace_back(client.window, xcb_get_property(connection, 0, client.window,
                                                                 XCB_ATOM_WM_TRANSIENT_FOR,
                                                                 XCB_ATOM_WINDOW, 0, 1));
    int sent = 0;
    for (const auto& [window, transientFor] : windows) {
        // Dialogs are left out: asked to close, one may just close itself, answering "cancel"
        // to the question it asks (an editor's "save changes?").
        xcb_get_property_reply_t* reply = xcb_get_property_reply(connection, transientFor, nullptr);
        const bool dialog = reply && reply->format != 0;
        std::free(reply);
        if (dialog)
            continue;
        // As a pager asks: the manager then closes it as its own close button would.
        xcb_ewmh_request_close_window(&clients.ewmh(), clients.screen(), window, XCB_CURRENT_TIME,
                                      XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER);
        ++sent;
    }
    // Sent for sure before the connection ends: one more round trip.
    std::free(xcb_get_input_focus_reply(clients.connection(),
                                        xcb_get_input_focus(clients.connection()), nullptr));
    return clients.broken() ? 0 : sent;
}

} // namespace corvel
