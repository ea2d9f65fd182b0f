#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvel {

// Where a session keeps its desktop entries, its language and its X display, as the XDG base
// directory rules and the usual variables say.
struct DesktopEnvironment
{
    std::vector<std::string> applicationFolders; // $XDG_DATA_HOME first, then $XDG_DATA_DIRS
    std::vector<std::string> autostartFolders;   // $XDG_CONFIG_HOME first, then $XDG_CONFIG_DIRS
    std::vector<std::string> programFolders;     // $PATH, where Exec's program names are found
    std::string locale;                          // LC_ALL, else LC_MESSAGES, else LANG
    std::string display;                         // DISPLAY; empty: no X server
};

using EnvironmentLookup = std::function<std::optional<std::string>(std::string_view name)>;

// Unset or empty variables take their XDG defaults; relative folders are ignored, as the
// base directory rules ask.
DesktopEnvironment desktopEnvironmentFrom(const EnvironmentLookup& lookup);

// The same from this process's environment.
DesktopEnvironment processDesktopEnvironment();

} // namespace corvel
