// The small decoders of outside text: /proc and cgroup files, X properties, the environment,
// desktop entries.
#include "cgroup_apps.h"
#include "desktop_entry.h"
#include "desktop_environment.h"
#include "small_file.h"
#include "support/temp_dir.h"
#include "window_props.h"

#include <gtest/gtest.h>
#include <map>
#include <sys/stat.h>
#include <tuple>

namespace corvel {
namespace {

TEST(CgroupText, OwnCgroupPathAndUserService)
{
    EXPECT_EQ(unifiedCgroupPath("12:pids:/user.slice\n1:name=systemd:/x\n0::/user.slice/"
                                "user-1000.slice/user@1000.service/app.slice/a.scope\n"),
              "/user.slice/user-1000.slice/user@1000.service/app.slice/a.scope");
    EXPECT_EQ(unifiedCgroupPath("0::/\n"), "/");
    EXPECT_FALSE(unifiedCgroupPath("1:cpu:/\n"));
    EXPECT_FALSE(unifiedCgroupPath(""));

    const std::string path = "/user.slice/user-1000.slice/user@1000.service/app.slice/a.scope";
    EXPECT_EQ(userServicePrefix(path, 1000), "/user.slice/user-1000.slice/user@1000.service");
    EXPECT_FALSE(userServicePrefix(path, 100)) << "user@100.service is not user@1000.service";
    EXPECT_FALSE(userServicePrefix("/user.slice/user@1000.services", 1000));
    EXPECT_EQ(userServicePrefix("/user@0.service", 0), "/user@0.service");
}

TEST(CgroupText, ProcsAndMountInfo)
{
    EXPECT_EQ(parseCgroupProcs("1\n22\n333\n"), (std::vector<std::int32_t>{1, 22, 333}));
    EXPECT_EQ(parseCgroupProcs("7\n\n-1\n0\nabc\n99999999999\n8"),
              (std::vector<std::int32_t>{7, 8}));
    EXPECT_TRUE(parseCgroupProcs("").empty());

    const char* hybrid =
        "30 22 0:27 / /sys/fs/cgroup rw,relatime - tmpfs tmpfs rw,mode=755\n"
        "39 30 0:36 / /sys/fs/cgroup/systemd rw,relatime - cgroup cgroup rw,name=systemd\n"
        "40 30 0:37 / /sys/fs/cgroup/unified rw,relatime - cgroup2 cgroup2 rw\n";
    EXPECT_EQ(cgroup2MountPoint(hybrid), "/sys/fs/cgroup/unified");
    EXPECT_EQ(cgroup2MountPoint("29 23 0:26 / /sys/fs/cgroup rw,nosuid shared:4 - cgroup2 "
                                "cgroup2 rw,nsdelegate\n"),
              "/sys/fs/cgroup");
    EXPECT_EQ(cgroup2MountPoint("1 2 0:1 / /a\\040b rw - cgroup2 none rw\n"), "/a b");
    EXPECT_FALSE(cgroup2MountPoint("30 22 0:27 / /sys/fs/cgroup rw - tmpfs tmpfs rw\n"));
    EXPECT_FALSE(cgroup2MountPoint("garbage - cgroup2 x\n"));
}

// Files that are too large, gone, or not files at all give nothing, and never block.
TEST(SmallFile, WholeFilesOnly)
{
    testing::TempDir tree;
    const std::string file = tree.write("f", std::string(10000, 'x'));
    EXPECT_EQ(readSmallFile(file, 10000)->size(), 10000u);
    EXPECT_FALSE(readSmallFile(file, 9999));
    EXPECT_FALSE(readSmallFile(tree.path("gone"), 10));
    ASSERT_EQ(::mkfifo(tree.path("fifo").c_str(), 0600), 0);
    EXPECT_EQ(readSmallFile(tree.path("fifo"), 10), "");
    EXPECT_FALSE(readSmallFile(tree.path(), 10)) << "a folder";
}

TEST(WindowProps, WmClassAndPid)
{
    // clang-format off
    const std::tuple<std::string_view, const char*, const char*> classes[] = {
        {std::string_view("navigator\0Firefox\0", 18), "navigator", "Firefox"},
        {std::string_view("xterm\0XTerm", 11), "xterm", "XTerm"}, // unterminated
        {"lonely", "lonely", ""}, {std::string_view("a\0\xff\0", 4), "a", "\xEF\xBF\xBD"},
        {"", "", ""},
    };
    // clang-format on
    for (const auto& [bytes, instance, cls] : classes) {
        const WmClass decoded = decodeWmClass(bytes);
        EXPECT_EQ(decoded.instance, instance);
        EXPECT_EQ(decoded.cls, cls);
    }
    const std::uint32_t pid[] = {4242, 7}, zero[] = {0}, huge[] = {0x80000000u};
    EXPECT_EQ(decodeWmPid(pid), 4242);
    EXPECT_FALSE(decodeWmPid(zero) || decodeWmPid(huge) || decodeWmPid({}));
}

TEST(WindowProps, RoleFromTypeAndState)
{
    WindowAtoms atoms;
    atoms.typeNormal = 10;
    atoms.typeDialog = 11;
    atoms.typeDock = 12;
    atoms.typeDesktop = 13;
    atoms.otherTypes = {14, 15};
    atoms.stateSkipTaskbar = 20;
    using V = std::vector<std::uint32_t>;
    // clang-format off
    struct
    {
        V types, states;
        WindowRole role;
    } cases[] = {
        {{}, {}, WindowRole::taskbar}, {{10}, {}, WindowRole::taskbar},
        {{11}, {21}, WindowRole::taskbar}, {{10}, {21, 20}, WindowRole::skipsTaskbar},
        {{12}, {}, WindowRole::shell}, {{13}, {20}, WindowRole::shell},
        {{14}, {}, WindowRole::skipsTaskbar},
        {{99, 12}, {}, WindowRole::shell},   // unknown types are passed over
        {{10, 12}, {}, WindowRole::taskbar}, // the first known type decides
        {{99}, {}, WindowRole::taskbar}, {{0}, {0}, WindowRole::taskbar},
    };
    // clang-format on
    for (const auto& c : cases)
        EXPECT_EQ(classifyWindow(c.types, c.states, atoms), c.role);
    EXPECT_EQ(classifyWindow(V{0}, V{0}, WindowAtoms{}), WindowRole::taskbar)
        << "atoms the server lacks match nothing";
}

TEST(Environment, XdgFoldersLocaleAndDisplay)
{
    std::map<std::string, std::string> vars = {
        {"HOME", "/home/me"},
        {"XDG_DATA_DIRS", "/usr/share/:relative:/var/lib/flatpak/exports/share::"},
        {"LC_MESSAGES", "sr_RS.UTF-8@latin"},
        {"LANG", "en_US.UTF-8"},
        {"DISPLAY", ":1"},
        {"PATH", "/usr/bin:bin:/opt/x/"},
        {"XDG_CONFIG_HOME", ""},
    };
    const auto lookup = [&](std::string_view name) -> std::optional<std::string> {
        const auto it = vars.find(std::string(name));
        return it == vars.end() ? std::nullopt : std::optional<std::string>(it->second);
    };
    const DesktopEnvironment env = desktopEnvironmentFrom(lookup);
    EXPECT_EQ(
        env.applicationFolders,
        (std::vector<std::string>{"/home/me/.local/share/applications", "/usr/share/applications",
                                  "/var/lib/flatpak/exports/share/applications"}));
    EXPECT_EQ(env.autostartFolders,
              (std::vector<std::string>{"/home/me/.config/autostart", "/etc/xdg/autostart"}));
    EXPECT_EQ(env.locale, "sr_RS.UTF-8@latin");
    EXPECT_EQ(env.display, ":1");
    EXPECT_EQ(env.programFolders, (std::vector<std::string>{"/usr/bin", "/opt/x"}));

    vars = {{"XDG_DATA_HOME", "/data"}, {"LC_ALL", "de_DE"}, {"LC_MESSAGES", "fr_FR"}};
    const DesktopEnvironment bare = desktopEnvironmentFrom(lookup);
    EXPECT_EQ(bare.applicationFolders,
              (std::vector<std::string>{"/data/applications", "/usr/local/share/applications",
                                        "/usr/share/applications"}));
    EXPECT_EQ(bare.autostartFolders, (std::vector<std::string>{"/etc/xdg/autostart"}));
    EXPECT_EQ(bare.locale, "de_DE");
    EXPECT_EQ(bare.display, "");
    EXPECT_EQ(bare.programFolders,
              (std::vector<std::string>{"/usr/local/bin", "/usr/bin", "/bin"}));
}

constexpr const char* editorEntry = R"([Desktop Entry]
# a comment
Type=Application
Name=Text Editor
Name[de]=Texteditor
Name[sr]=Уређивач текста
Name[sr@latin]=Uređivač teksta
Name[pt_BR]=Editor de texto
GenericName=Editor
Icon=org.example.Editor
Exec=/usr/bin/example-editor %U
StartupWMClass=Example-editor
NoDisplay=false

[Desktop Action new-window]
Name=New Window
Icon=other
Exec=example-editor --new-window
)";

TEST(DesktopEntry, ReadsTheKeysAndTheNameOfTheClosestLocale)
{
    // clang-format off
    struct
    {
        const char* locale;
        const char* name;
    } cases[] = {
        {"sr_RS.UTF-8@latin", "Uređivač teksta"}, // lang@MODIFIER beats lang
        {"sr_RS@latin", "Uređivač teksta"}, {"sr_RS.UTF-8", "Уређивач текста"},
        {"de_AT.UTF-8", "Texteditor"}, {"pt_BR.UTF-8", "Editor de texto"},
        {"pt_PT.UTF-8", "Text Editor"}, // no "pt": the plain Name
        {"fr_FR.UTF-8", "Text Editor"}, {"C.UTF-8", "Text Editor"}, {"POSIX", "Text Editor"},
        {"", "Text Editor"},
    };
    // clang-format on
    for (const auto& c : cases) {
        const auto entry = parseDesktopEntry(editorEntry, c.locale);
        ASSERT_TRUE(entry);
        EXPECT_EQ(entry->name, c.name) << c.locale;
        EXPECT_EQ(entry->icon, "org.example.Editor");
        EXPECT_EQ(entry->program, "/usr/bin/example-editor") << "the group's, not an action's";
        EXPECT_TRUE(entry->plainExec && entry->application && !entry->noDisplay && !entry->hidden);
        EXPECT_EQ(entry->startupWMClass, "Example-editor");
    }
}

TEST(DesktopEntry, FlagsTypesAndAbsentPieces)
{
    const auto flags = parseDesktopEntry("[Desktop Entry]\nName = x \nNoDisplay = true\nHidden=1\n"
                                         "Terminal=true\nType=Link\nTryExec=probe\n",
                                         "C");
    ASSERT_TRUE(flags);
    EXPECT_TRUE(flags->noDisplay && flags->hidden && flags->terminal);
    EXPECT_FALSE(flags->application);
    EXPECT_EQ(flags->name, "x");
    EXPECT_EQ(flags->tryExec, "probe");
    EXPECT_FALSE(flags->program);
    const auto empty = parseDesktopEntry("[Desktop Entry]\nType=Application\nIcon=\n", "C");
    ASSERT_TRUE(empty);
    EXPECT_FALSE(empty->name || empty->icon || empty->program || empty->tryExec ||
                 empty->startupWMClass || empty->terminal);
}

TEST(DesktopEntry, OddTextIsAbsorbed)
{
    EXPECT_FALSE(parseDesktopEntry("", "C"));
    EXPECT_FALSE(parseDesktopEntry("Name=orphan\n", "C"));
    EXPECT_FALSE(parseDesktopEntry("[Desktop Action x]\nName=y\n", "C"));
    EXPECT_FALSE(parseDesktopEntry(std::string_view("\0\0\0", 3), "C"));

    // Keys outside the group, lines without "=", broken locale brackets, CRLF, escapes and
    // bytes that are not UTF-8.
    const auto entry = parseDesktopEntry("Name=outside\r\n[Desktop Entry]\r\nno equals sign\r\n"
                                         "Name[de=broken\r\nName=Tab\\tbed\\sname\xff\r\n"
                                         "Icon=/opt/App Icons/app.png\r\n",
                                         "de_DE");
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->name, "Tab\tbed name\xEF\xBF\xBD");
    EXPECT_EQ(entry->icon, "/opt/App Icons/app.png");
}

TEST(DesktopEntry, ExecProgramIsTheFirstWordPastEnv)
{
    // clang-format off
    const struct
    {
        const char* exec;
        const char* program; // nullptr: none
        bool plain;
    } cases[] = {
        {"/usr/bin/gedit %U", "/usr/bin/gedit", true},
        {"\"/opt/My App/bin/my app\" --flag", "/opt/My App/bin/my app", false},
        {"env GDK_BACKEND=x11 code --new-window", "code", false},
        {"/usr/bin/env -u X A=1 tool %f %i", "tool", true}, {"  tool", "tool", true},
        {"sh -c \"foo\"", "sh", false}, {"", nullptr, false}, {"\"unterminated", nullptr, false},
        {"env A=1", nullptr, false}, {"/usr/bin/", nullptr, false},
    };
    // clang-format on
    for (const auto& c : cases) {
        const auto found = execProgram(c.exec);
        ASSERT_EQ(found.has_value(), c.program != nullptr) << c.exec;
        if (found) {
            EXPECT_EQ(found->program, c.program) << c.exec;
            EXPECT_EQ(found->plain, c.plain) << c.exec;
        }
    }
}

} // namespace
} // namespace corvel
