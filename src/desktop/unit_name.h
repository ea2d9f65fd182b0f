#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace corvel {

// What a systemd unit name says about the application that runs in it.
struct AppUnit
{
    enum class Kind {
        application, // launched by the user: app-…, snap.…, D-Bus activated
        autostart,   // started at login from an autostart entry
        launcher,    // the shell, a panel or a launcher itself: not an application
    };
    std::string id; // desktop file id without ".desktop", or the Flatpak/Snap id
    Kind kind = Kind::application;
};

// Parses the unit names that the desktop-environment conventions of systemd give applications:
//   app[-<launcher>]-<ID>-<RANDOM>.scope      app[-<launcher>]-<ID>[@<RANDOM>].service
//   app[-<launcher>]-<ID>.slice               app-<ID>@autostart.service
//   snap.<pkg>.<app>-<uuid>.scope (id <pkg>_<app>)    dbus-:1.<N>-<ID>@<N>.service
// The name is split on literal "-" first, then each part is unescaped (\xNN). Anything else,
// malformed escapes and ids with characters a desktop file id cannot hold give nothing.
std::optional<AppUnit> parseAppUnit(std::string_view unitName);

// Undoes systemd's \xNN escaping; nothing for a malformed escape or a NUL, escaped or not.
std::optional<std::string> unescapeUnitPart(std::string_view part);

} // namespace corvel
