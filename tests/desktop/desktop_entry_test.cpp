#include "desktop_entry.h"

#include <gtest/gtest.h>

namespace corvel {
namespace {

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

TEST(DesktopEntry, ReadsTheKeysThatNameAnApplication)
{
    const auto entry = parseDesktopEntry(editorEntry, "C");
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->name, "Text Editor");
    EXPECT_EQ(entry->icon, "org.example.Editor");
    EXPECT_EQ(entry->program, "/usr/bin/example-editor");
    EXPECT_TRUE(entry->plainExec);
    EXPECT_EQ(entry->startupWMClass, "Example-editor");
    EXPECT_TRUE(entry->application);
    EXPECT_FALSE(entry->noDisplay);
    EXPECT_FALSE(entry->hidden);
}

TEST(DesktopEntry, PicksTheNameOfTheClosestLocale)
{
    struct
    {
        const char* locale;
        const char* name;
    } cases[] = {
        {"sr_RS.UTF-8@latin", "Uređivač teksta"}, // lang@MODIFIER beats lang
        {"sr_RS@latin", "Uređivač teksta"},
        {"sr_RS.UTF-8", "Уређивач текста"},
        {"de_AT.UTF-8", "Texteditor"},
        {"pt_BR.UTF-8", "Editor de texto"},
        {"pt_PT.UTF-8", "Text Editor"}, // no "pt": the plain Name
        {"fr_FR.UTF-8", "Text Editor"},
        {"C.UTF-8", "Text Editor"},
        {"POSIX", "Text Editor"},
        {"", "Text Editor"},
    };
    for (const auto& c : cases) {
        const auto entry = parseDesktopEntry(editorEntry, c.locale);
        ASSERT_TRUE(entry);
        EXPECT_EQ(entry->name, c.name) << c.locale;
    }
}

TEST(DesktopEntry, FlagsTypesAndAbsentPieces)
{
    const auto flags = parseDesktopEntry("[Desktop Entry]\nName = x \nNoDisplay = true\nHidden=1\n"
                                         "Terminal=true\nType=Link\nTryExec=probe\n", "C");
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
    const struct
    {
        const char* exec;
        const char* program; // nullptr: none
        bool plain;
    } cases[] = {
        {"/usr/bin/gedit %U", "/usr/bin/gedit", true},
        {"\"/opt/My App/bin/my app\" --flag", "/opt/My App/bin/my app", false},
        {"env GDK_BACKEND=x11 code --new-window", "code", false},
        {"/usr/bin/env -u X A=1 tool %f %i", "tool", true},
        {"  tool", "tool", true},
        {"sh -c \"foo\"", "sh", false},
        {"", nullptr, false}, {"\"unterminated", nullptr, false}, {"env A=1", nullptr, false},
        {"/usr/bin/", nullptr, false},
    };
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
