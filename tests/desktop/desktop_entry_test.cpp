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
    EXPECT_EQ(entry->executable, "example-editor");
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

TEST(DesktopEntry, LocaleKeysGoFromMostToLeastSpecific)
{
    EXPECT_EQ(localeKeys("sr_RS.UTF-8@latin"),
              (std::vector<std::string>{"sr_RS@latin", "sr_RS", "sr@latin", "sr"}));
    EXPECT_EQ(localeKeys("de"), (std::vector<std::string>{"de"}));
    EXPECT_TRUE(localeKeys("C").empty());
    EXPECT_TRUE(localeKeys("_RS").empty());
}

TEST(DesktopEntry, FlagsAndTypes)
{
    const auto hidden = parseDesktopEntry("[Desktop Entry]\nName=x\nHidden=true\n", "C");
    ASSERT_TRUE(hidden);
    EXPECT_TRUE(hidden->hidden);
    const auto noDisplay = parseDesktopEntry("[Desktop Entry]\nName = x \nNoDisplay = true\n", "C");
    ASSERT_TRUE(noDisplay);
    EXPECT_TRUE(noDisplay->noDisplay);
    EXPECT_EQ(noDisplay->name, "x");
    const auto link = parseDesktopEntry("[Desktop Entry]\nType=Link\nName=x\n", "C");
    ASSERT_TRUE(link);
    EXPECT_FALSE(link->application);
}

TEST(DesktopEntry, AbsentPiecesStayAbsent)
{
    const auto entry = parseDesktopEntry("[Desktop Entry]\nType=Application\nIcon=\n", "C");
    ASSERT_TRUE(entry);
    EXPECT_FALSE(entry->name);
    EXPECT_FALSE(entry->icon);
    EXPECT_FALSE(entry->executable);
    EXPECT_FALSE(entry->startupWMClass);
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
    EXPECT_EQ(execProgram("/usr/bin/gedit %U"), "gedit");
    EXPECT_EQ(execProgram("\"/opt/My App/bin/my app\" --flag"), "my app");
    EXPECT_EQ(execProgram("env GDK_BACKEND=x11 code --new-window"), "code");
    EXPECT_EQ(execProgram("  tool"), "tool");
    EXPECT_FALSE(execProgram(""));
    EXPECT_FALSE(execProgram("\"unterminated"));
    EXPECT_FALSE(execProgram("env A=1"));
    EXPECT_FALSE(execProgram("/usr/bin/"));
}

TEST(DesktopEntry, TryExecStandsInForAMissingExec)
{
    const auto entry = parseDesktopEntry("[Desktop Entry]\nTryExec=/usr/bin/probe\n", "C");
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->executable, "probe");
}

} // namespace
} // namespace corvel
