#pragma once

// Light or dark: what the desktop's settings say the user prefers, read from the most direct
// source that has an answer.

#include <cstdint>
#include <optional>
#include <string>

namespace corvel {

enum class ColorScheme { light, dark };

// The settings as read, each empty (or absent) when its source had nothing.
struct AppearanceSettings
{
    // The settings portal's org.freedesktop.appearance color-scheme: 0 no preference, 1 dark,
    // 2 light.
    std::optional<std::uint32_t> portal;
    // org.gnome.desktop.interface color-scheme and gtk-theme, as GSettings stores them
    // ('prefer-dark', quoted or not).
    std::string gnomeColorScheme;
    std::string gtkTheme;
    // GTK's own settings.ini: gtk-application-prefer-dark-theme and gtk-theme-name.
    std::string gtkPreferDark;
    std::string gtkIniTheme;
    // kdeglobals: [General] ColorScheme and [Colors:Window] BackgroundNormal ("r,g,b").
    std::string kdeColorScheme;
    std::string kdeWindowBackground;
};

// The portal first; else GNOME's color-scheme, then a GTK theme named dark ("Adwaita-dark",
// "Arc-Dark", "Adwaita:dark"); else KDE's window background, then its scheme's name
// ("BreezeDark"); else light.
ColorScheme decideColorScheme(const AppearanceSettings& settings);

} // namespace corvel
