#include "window_closer.h"

#include "window_closing.h"

#include <cstdlib>
#include <string>

namespace corvel {
namespace {

std::string environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

// Asks the compositor on Wayland, where it offers window management; else the X server's window
// manager, which on GNOME's Wayland sees the Xwayland windows only. Never both: a compositor
// with window management lists the Xwayland windows too, and a second request would be a
// second "save changes?" question.
class SessionWindowCloser final : public WindowCloser
{
public:
    int closeWindowsOf(const ActionSubject& subject) override
    {
        if (subject.pids.empty())
            return 0;
        if (!environment("WAYLAND_DISPLAY").empty())
            if (const auto sent = closeWaylandWindows(subject.appId, subject.pids))
                return *sent;
        return closeX11Windows(environment("DISPLAY"), subject.pids);
    }
};

} // namespace

std::unique_ptr<WindowCloser> makeWindowCloser()
{
    return std::make_unique<SessionWindowCloser>();
}

} // namespace corvel
