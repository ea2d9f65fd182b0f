// The small decoders of outside text.
#include "cgroup_apps.h"
#include "color_scheme.h"
#include "desktop_entry.h"
#include "desktop_environment.h"
#include "small_file.h"
#include "support/temp_dir.h"
#include "window_props.h"

#include <gtest/gtest.h>
#include <map>
#include <sys/stat.h>

namespace corvel {
namespace {

TEST(CgroupText, UnitNamesOwnCgroupUserServiceProcsMountInfoAndSmallFiles)
{
    // clang-format off
    const std::pair<const char*, const char*> apps[] = {
    {"app-gnome-org.x.Files-4242.scope", "org.x.Files"}, {"app-gnome-a\\x2Eb-1.scope", "a.b"},
    {"app-gnome-a\\x2db\\x2dc-2218.scope", "a-b-c"}, {"app-org.x.Konsole.service", "org.x.Konsole"},
    {"app-gnome-org.x.Term@7ab3f0.service", "org.x.Term"}, {"app-gnome-a.b.slice", "a.b"},
    {"app-flatpak-org.x.Fox-81553.scope", "org.x.Fox"}, {"snap.code.code-1234.scope", "code_code"},
    {"snap.s-c.s-0f1e2d3c-4b5a-6978-8a9b-0c1d2e3f4a5b.scope", "s-c_s"}, // names with "-"
    {"snap.a.b-zzzzzzzz-3a66-4a6a-9a2a-2c4b7f3a1e11.scope", "a_b-zzzzzzzz-3a66-4a6a-9a2a"},
    {"app-gnome-a\\x2dz@autostart.service", "a-z autostart"}, {"dbus-:1.44-a.b@12.service", "a.b"},
    {"app-cinnamon-12ab.scope", "cinnamon launcher"},
    {"app-org.kde.plasmashell@autostart.service", "org.kde.plasmashell launcher"}};
    for (const char* name : {"app.slice", "org.gnome.Shell@wayland.service", "init.scope",
        "vte-spawn-6f9d7a4e-1c2b-4d3e-9f8a-7b6c5d4e3f2a.scope", "app-gnome-org.x.Files-4242.mount",
        "app-.scope", "app--4242.scope", "app-org.example.App.scope", "app-a-b-c-4242.scope",
        "app-gnome-org.x.App@.service", "app-gnome-org.x.App@a-b.service", "app-a/b-org.x-1.scope",
        "app-gnome-foo\\x2-12.scope", "app-gnome-foo\\xZZ-12.scope", "app-gnome-f\\y2dbar-12.scope",
        "app-gnome-foo\\-12.scope", "app-gnome-f\\x2fbar-12.scope", "snap.firefox-1234.scope",
        "snap..x-1234.scope", "snap.scope", "dbus-1.2-a.b@0.service", "dbus-:1.x-a.b@0.service",
        "dbus-:1.2-a.b@zero.service", "dbus-:1.2-a.b.service", ""})
        EXPECT_FALSE(parseAppUnit(name)) << name;
    // clang-format on
    const char* kinds[] = {"", " autostart", " launcher"};
    for (const auto& [name, expected] : apps) {
        const auto unit = parseAppUnit(name);
        EXPECT_EQ(unit ? unit->id + kinds[static_cast<int>(unit->kind)] : "-", expected) << name;
    }
    const std::string path = "/user.slice/user-1000.slice/user@1000.service/app.slice/a.scope";
    EXPECT_EQ(unifiedCgroupPath("12:pids:/user.slice\n1:name=systemd:/x\n0::" + path + "\n"), path);
    EXPECT_EQ(unifiedCgroupPath("0::/\n"), "/");
    EXPECT_FALSE(unifiedCgroupPath("1:cpu:/\n") || unifiedCgroupPath(""));
    EXPECT_EQ(userServicePrefix(path, 1000), "/user.slice/user-1000.slice/user@1000.service");
    EXPECT_FALSE(userServicePrefix(path, 100) || // user@100.service is not user@1000.service
                 userServicePrefix("/user.slice/user@1000.services", 1000));
    EXPECT_EQ(userServicePrefix("/user@0.service", 0), "/user@0.service");

    EXPECT_EQ(parseCgroupProcs("7\n\n-1\n0\nabc\n99999999999\n22\n8"),
              (std::vector<std::int32_t>{7, 22, 8}));
    EXPECT_EQ(cgroup2MountPoint("39 30 0:36 / /sys/fs/cgroup/systemd rw - cgroup cgroup rw\n"
                                "40 30 0:37 / /sys/fs/cgroup/unified rw - cgroup2 cgroup2 rw\n"),
              "/sys/fs/cgroup/unified");

    // The files they come from are read whole or not at all, never blocking.
    testing::TempDir tree;
    const std::string file = tree.write("f", std::string(10000, 'x'));
    EXPECT_EQ(readSmallFile(file, 10000)->size(), 10000u);
    EXPECT_FALSE(readSmallFile(file, 9999) || readSmallFile(tree.path("gone"), 10) ||
                 readSmallFile(tree.path(), 10)); // too long, missing, a folder
    ASSERT_EQ(::mkfifo(tree.path("fifo").c_str(), 0600), 0);
    EXPECT_EQ(readSmallFile(tree.path("fifo"), 10), "");
}

TEST(WindowProps, WmClassPidAndRole)
{
    // clang-format off
    const std::pair<std::string_view, const char*> classes[] = {
        {std::string_view("navigator\0Firefox\0", 18), "navigator/Firefox"},
        {std::string_view("xterm\0XTerm", 11), "xterm/XTerm"}, // unterminated
        {"lonely", "lonely/"}, {std::string_view("a\0\xff\0", 4), "a/\xEF\xBF\xBD"}, {"", "/"}};
    for (const auto& [bytes, names] : classes)
        EXPECT_EQ(decodeWmClass(bytes).instance + "/" + decodeWmClass(bytes).cls, names);
    const std::uint32_t pid[] = {4242, 7}, zero[] = {0}, huge[] = {0x80000000u};
    EXPECT_EQ(decodeWmPid(pid), 4242);
    EXPECT_FALSE(decodeWmPid(zero) || decodeWmPid(huge) || decodeWmPid({}));

    // Atoms: normal 10, dialog 11, dock 12, desktop 13, others 14 and 15, skip-taskbar 20.
    const WindowAtoms atoms{10, 11, 12, 13, {14, 15}, 20};
    using V = std::vector<std::uint32_t>;
    using enum WindowRole;
    const std::tuple<V, V, WindowRole> cases[] = {
        {{}, {}, taskbar}, {{10}, {}, taskbar}, {{11}, {21}, taskbar}, {{99}, {}, taskbar},
        {{0}, {0}, taskbar}, {{10}, {21, 20}, skipsTaskbar}, {{14}, {}, skipsTaskbar},
        {{12}, {}, shell}, {{13}, {20}, shell}, {{99, 12}, {}, shell}, // unknown types: passed over
        {{10, 12}, {}, taskbar}}; // the first known type decides
    // clang-format on
    for (const auto& [types, states, role] : cases)
        EXPECT_EQ(classifyWindow(types, states, atoms), role);
    EXPECT_EQ(classifyWindow(V{0}, V{0}, WindowAtoms{}), WindowRole::taskbar)
        << "atoms the server lacks match nothing";

    // A Wayland toplevel's app id against an application's desktop id.
    // clang-format off
    const std::tuple<const char*, const char*, bool> ids[] = {
        {"foot", "foot", true}, {"org.gnome.TextEditor", "org.gnome.texteditor.desktop", true},
        {"org.kde.kate", "kate", true}, {"firefox", "org.mozilla.firefox", true},
        {"firefox-esr", "esr", false}, {"org.kde.kate", "org.gnome.kate", false},
        {"a.kate", "kate", false}, {"__system", "", false}, {"", "", false}};
    // clang-format on
    for (const auto& [appId, toplevel, same] : ids)
        EXPECT_EQ(sameApplication(appId, toplevel), same) << appId << " / " << toplevel;
}

TEST(Appearance, EachSourceInItsTurnAsItWritesIt)
{
    using enum ColorScheme;
    const auto kde = [](std::string background, std::string scheme = {}) {
        return AppearanceSettings{.kdeColorScheme = std::move(scheme),
                                  .kdeWindowBackground = std::move(background)};
    };
    // clang-format off
    const std::pair<AppearanceSettings, ColorScheme> cases[] = {
        {{}, light}, {{.portal = 1, .gnomeColorScheme = "'prefer-light'"}, dark},
        {{.portal = 2, .gtkTheme = "Adwaita-dark"}, light},
        {{.portal = 0, .gnomeColorScheme = "'prefer-dark'"}, dark}, // no preference: read on
        {{.portal = 7, .gnomeColorScheme = " \"prefer-light\" ", .gtkTheme = "Arc-Dark"}, light},
        {{.gnomeColorScheme = "'default'", .gtkTheme = "'Adwaita-dark'"}, dark},
        {{.gtkTheme = "Adwaita:dark"}, dark}, {{.gtkTheme = "Materia-dark-compact"}, dark},
        {{.gtkTheme = "Darkling"}, light}, {{.gtkTheme = "Adwaita", .gtkIniTheme = "Yaru-dark"}, dark},
        {{.gtkPreferDark = "1"}, dark}, {{.gtkPreferDark = "true"}, dark},
        {{.gtkPreferDark = "0", .kdeColorScheme = "BreezeDark"}, dark},
        {kde("49,54,59", "BreezeLight"), dark}, {kde("239,240,241", "BreezeDark"), light},
        {kde("49,54,59,255"), dark}, {kde("300,0,0", "Breeze"), light}, {kde("1,2"), light},
        {kde("a,b,c", "BreezeDark"), dark}, {kde(" 20, 20, 20"), dark}};
    // clang-format on
    for (const auto& [settings, scheme] : cases)
        EXPECT_EQ(decideColorScheme(settings), scheme)
            << settings.gnomeColorScheme << settings.gtkTheme << settings.kdeWindowBackground;
}

TEST(Environment, XdgFoldersLocaleAndDisplay)
{
    const auto join = [](const std::vector<std::string>& list) {
        std::string out;
        for (const std::string& item : list)
            out += (out.empty() ? "" : ":") + item;
        return out;
    };
    // clang-format off
    const std::pair<std::map<std::string, std::string>, std::string> cases[] = {
        {{{"HOME", "/home/me"}, {"XDG_DATA_DIRS", "/usr/share/:relative:/var/lib/x::"},
          {"LC_MESSAGES", "sr_RS.UTF-8@latin"}, {"LANG", "en_US.UTF-8"}, {"DISPLAY", ":1"},
          {"PATH", "/usr/bin:bin:/opt/x/"}, {"XDG_CONFIG_HOME", ""}},
         "/home/me/.local/share/applications:/usr/share/applications:/var/lib/x/applications "
         "/home/me/.config/autostart:/etc/xdg/autostart /usr/bin:/opt/x sr_RS.UTF-8@latin :1"},
        {{{"XDG_DATA_HOME", "/data"}, {"LC_ALL", "de_DE"}, {"LC_MESSAGES", "fr_FR"}},
         "/data/applications:/usr/local/share/applications:/usr/share/applications "
         "/etc/xdg/autostart /usr/local/bin:/usr/bin:/bin de_DE "},
        {{{"HOME", "relative"}, {"XDG_DATA_DIRS", ""}, {"XDG_CONFIG_DIRS", "/etc/a:/b/"},
          {"LANG", "pt"}},
         "/usr/local/share/applications:/usr/share/applications /etc/a/autostart:/b/autostart "
         "/usr/local/bin:/usr/bin:/bin pt "}};
    // clang-format on
    for (const auto& [vars, expected] : cases) {
        const DesktopEnvironment env = desktopEnvironmentFrom([&](std::string_view name) {
            const auto it = vars.find(std::string(name));
            return it == vars.end() ? std::nullopt : std::optional<std::string>(it->second);
        });
        EXPECT_EQ(join(env.applicationFolders) + " " + join(env.autostartFolders) + " " +
                      join(env.programFolders) + " " + env.locale + " " + env.display,
                  expected);
    }
}

// An entry in one line: Name|Icon|Exec's program|TryExec|StartupWMClass|flags (+ Exec runs the
// program alone, Application, Terminal, NoDisplay, Hidden); "-" for none.
std::string describe(const std::optional<DesktopEntry>& e)
{
    if (!e)
        return "-";
    const auto value = [](const std::optional<std::string>& v) { return v.value_or("") + "|"; };
    std::string flags; // each once or not at all
    for (int i = 0;
         const bool set : {e->plainExec, e->application, e->terminal, e->noDisplay, e->hidden})
        flags += std::string(set, "+ATNH"[i++]);
    return value(e->name) + value(e->icon) + value(e->program) + value(e->tryExec) +
           value(e->startupWMClass) + flags;
}

constexpr const char* editorEntry =
    "[Desktop Entry]\n# a comment\nType=Application\nName=Text Editor\nName[de]=Texteditor\n"
    "Name[sr]=Уређивач текста\nName[sr@latin]=Uređivač teksta\nName[pt_BR]=Editor de texto\n"
    "GenericName=Editor\nIcon=org.example.Editor\nExec=/usr/bin/example-editor %U\n"
    "StartupWMClass=Example-editor\nNoDisplay=false\n\n[Desktop Action new-window]\n"
    "Name=New Window\nIcon=other\nExec=example-editor --new-window\n";

TEST(DesktopEntry, KeysNamesOddTextAndExecProgram)
{
    // clang-format off
    const std::pair<const char*, const char*> names[] = {
        {"sr_RS.UTF-8@latin", "Uređivač teksta"}, {"sr_RS@latin", "Uređivač teksta"}, // lang@MOD
        {"sr_RS.UTF-8", "Уређивач текста"}, {"de_AT.UTF-8", "Texteditor"},
        {"pt_BR.UTF-8", "Editor de texto"}, {"pt_PT.UTF-8", "Text Editor"}, // no "pt": plain Name
        {"fr_FR.UTF-8", "Text Editor"}, {"C.UTF-8", "Text Editor"}, {"", "Text Editor"}};
    for (const auto& [locale, name] : names)
        EXPECT_EQ(parseDesktopEntry(editorEntry, locale).value_or(DesktopEntry{}).name, name)
            << locale;
    const std::pair<std::string_view, const char*> cases[] = {
        {editorEntry, "Texteditor|org.example.Editor|/usr/bin/example-editor||Example-editor|+A"},
        {"[Desktop Entry]\nName = x \nNoDisplay = true\nHidden=1\nTerminal=true\nType=Link\n"
         "TryExec=probe\n", "x|||probe||TNH"},
        {"[Desktop Entry]\nType=Application\nIcon=\nName[fr]=rien\n", "|||||A"},
        // keys outside the group, lines without "=", broken locale brackets, CRLF, escapes,
        // bytes that are not UTF-8, a second Icon
        {"Name=outside\r\n[Desktop Entry]\r\nno equals sign\r\nName[de=broken\r\n"
         "Name=Tab\\tbed\\sname\xff\r\nIcon=/opt/App Icons/app.png\r\nIcon=later\r\n",
         "Tab\tbed name\xEF\xBF\xBD|/opt/App Icons/app.png||||A"},
        {std::string_view("\0\0\0", 3), "-"}, {"Name=orphan\n", "-"},
        {"[Desktop Action x]\nName=y\n", "-"}};
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(describe(parseDesktopEntry(text, "de_DE")), expected) << text;
    const std::pair<const char*, const char*> execs[] = { // the program, "+" when it runs alone
        {"/usr/bin/gedit %U", "/usr/bin/gedit+"}, {"\"/opt/A b/c d\" --flag", "/opt/A b/c d"},
        {"env GDK_BACKEND=x11 code --new-window", "code"}, {"/usr/bin/env -u X A=1 t %f %i", "t+"},
        {"  tool", "tool+"}, {"sh -c \"foo\"", "sh"}, {"", "-"}, {"\"unterminated", "-"},
        {"env A=1", "-"}, {"/usr/bin/", "-"}, {"app -x %u", "app"}};
    // clang-format on
    for (const auto& [exec, program] : execs) {
        const auto found = execProgram(exec);
        EXPECT_EQ(found ? found->program + (found->plain ? "+" : "") : "-", program) << exec;
    }
}

} // namespace
} // namespace corvel
