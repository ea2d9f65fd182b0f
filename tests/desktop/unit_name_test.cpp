#include "unit_name.h"

#include <gtest/gtest.h>

namespace corvel {
namespace {

using Kind = AppUnit::Kind;

struct UnitCase
{
    const char* unit;
    const char* id; // nullptr: not an application unit
    Kind kind = Kind::application;
};

class UnitNameTest : public testing::TestWithParam<UnitCase>
{
};

TEST_P(UnitNameTest, GivesTheApplicationId)
{
    const UnitCase& c = GetParam();
    const auto unit = parseAppUnit(c.unit);
    if (!c.id) {
        EXPECT_FALSE(unit) << c.unit << " gave " << unit->id;
        return;
    }
    ASSERT_TRUE(unit) << c.unit;
    EXPECT_EQ(unit->id, c.id) << c.unit;
    EXPECT_EQ(unit->kind, c.kind) << c.unit;
}

// One row per unit: its id, or nullptr when it names no application.
// clang-format off
const UnitCase unitCases[] = {
    {"app-gnome-org.gnome.Nautilus-4242.scope", "org.gnome.Nautilus"},
    {"app-gnome-firefox\\x2desr-12345.scope", "firefox-esr"}, {"app-gnome-a\\x2Eb-1.scope", "a.b"},
    {"app-gnome-org.gnome.Evolution\\x2dalarm\\x2dnotify-2218.scope", "org.gnome.Evolution-alarm-notify"},
    {"app-gnome-org.gnome.Terminal@7ab3f0.service", "org.gnome.Terminal"},
    {"app-org.kde.dolphin-a1b2c3d4.scope", "org.kde.dolphin"},
    {"app-org.kde.konsole@0b7e4a1c9d.service", "org.kde.konsole"},
    {"app-org.kde.konsole.service", "org.kde.konsole"},
    {"app-flatpak-org.mozilla.firefox-81553.scope", "org.mozilla.firefox"},
    {"snap.firefox.firefox-2ba2b8a9-3a66-4a6a-9a2a-2c4b7f3a1e11.scope", "firefox_firefox"},
    {"snap.spotify-client.spotify-0f1e2d3c-4b5a-6978-8a9b-0c1d2e3f4a5b.scope", "spotify-client_spotify"},
    {"snap.code.code-1234.scope", "code_code"},
    {"app-org.gnome.Evolution\\x2dalarm\\x2dnotify@autostart.service", "org.gnome.Evolution-alarm-notify", Kind::autostart},
    {"app-gnome-nm\\x2dapplet@autostart.service", "nm-applet", Kind::autostart},
    {"app-org.gnome.Terminal.slice", "org.gnome.Terminal"},
    {"app-gnome-org.gnome.Terminal.slice", "org.gnome.Terminal"},
    {"dbus-:1.2-org.gnome.Nautilus@0.service", "org.gnome.Nautilus"},
    {"dbus-:1.44-org.freedesktop.portal.Desktop@12.service", "org.freedesktop.portal.Desktop"},
    {"app-gnome-org.gnome.Shell-3131.scope", "org.gnome.Shell", Kind::launcher},
    {"app-cinnamon-1234.scope", "cinnamon", Kind::launcher},
    {"app-rofi-99.scope", "rofi", Kind::launcher},
    {"app-org.kde.plasmashell@autostart.service", "org.kde.plasmashell", Kind::launcher},
    {"app.slice", nullptr}, {"session.slice", nullptr},
    {"org.gnome.Shell@wayland.service", nullptr}, {"init.scope", nullptr},
    {"vte-spawn-6f9d7a4e-1c2b-4d3e-9f8a-7b6c5d4e3f2a.scope", nullptr},
    {"app-gnome-org.gnome.Nautilus-4242", nullptr},
    {"app-gnome-org.gnome.Nautilus-4242.mount", nullptr}, {"app-.scope", nullptr},
    {"app--4242.scope", nullptr}, {"app-org.example.App.scope", nullptr},
    {"app-a-b-c-4242.scope", nullptr}, {"app-gnome-org.x.App@.service", nullptr},
    {"app-gnome-org.x.App@a-b.service", nullptr}, {"app-gno/me-org.x.App-1.scope", nullptr},
    {"app-gnome-foo\\x2-12.scope", nullptr}, {"app-gnome-foo\\xZZ-12.scope", nullptr},
    {"app-gnome-foo\\x00bar-12.scope", nullptr}, {"app-gnome-foo\\y2dbar-12.scope", nullptr},
    {"app-gnome-foo\\-12.scope", nullptr}, {"app-gnome-foo\\x2fbar-12.scope", nullptr},
    {"app-gnome-foo\\x20bar-12.scope", nullptr}, {"snap.firefox-1234.scope", nullptr},
    {"snap..x-1234.scope", nullptr}, {"snap.scope", nullptr},
    {"dbus-1.2-org.x.App@0.service", nullptr}, {"dbus-:1.x-org.x.App@0.service", nullptr},
    {"dbus-:1.2-org.x.App@zero.service", nullptr}, {"dbus-:1.2-org.x.App.service", nullptr},
    {"", nullptr},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Table, UnitNameTest, testing::ValuesIn(unitCases));

} // namespace
} // namespace corvel
