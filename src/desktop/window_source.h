#pragma once

#include "window_props.h"

#include <memory>
#include <string>
#include <vector>

namespace corvel {

// The top-level windows of the desktop's window manager, in its client-list order.
class WindowSource
{
public:
    virtual ~WindowSource() = default;
    virtual std::vector<WindowInfo> windows() = 0;
};

// Reads the X server named by `display` (a DISPLAY value) through one connection of its own.
// With no display, no reachable server or no EWMH window manager it lists nothing; a lost
// connection is tried again later. Builds without X support give a source that lists nothing.
std::unique_ptr<WindowSource> makeX11Windows(std::string display);

} // namespace corvel
