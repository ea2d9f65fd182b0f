#include "entry_index.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace corvel {
namespace {

using namespace std::chrono_literals;
using testing::TempDir;

std::string entry(std::string_view name, std::string_view extra = {})
{
    return "[Desktop Entry]\nType=Application\nName=" + std::string(name) + "\n" +
           std::string(extra);
}

// $XDG_DATA_HOME/applications first, then two $XDG_DATA_DIRS.
class EntryIndexTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        tree.write("home/applications/org.example.Editor.desktop",
                   entry("My Editor", "Icon=/home/me/editor.png\n"));
        tree.write("home/applications/org.example.Gone.desktop", entry("Gone", "Hidden=true\n"));
        tree.write("usr/applications/org.example.Editor.desktop",
                   entry("Editor", "Icon=org.example.Editor\n"));
        tree.write("usr/applications/org.example.Gone.desktop", entry("Gone for real"));
        tree.write("usr/applications/kde/dolphin.desktop",
                   entry("Dolphin", "Exec=dolphin %u\nIcon=system-file-manager\n"));
        tree.write("usr/applications/org.example.Helper.desktop",
                   entry("Helper", "NoDisplay=true\nExec=/usr/libexec/helperd\n"));
        tree.write("usr/applications/gimp.desktop",
                   entry("GIMP", "StartupWMClass=Gimp-2.10\nExec=gimp-2.10 %U\n"));
        tree.write("usr/applications/readme.txt", "not an entry");
        tree.write("usr/applications/broken.desktop", "garbage without a group");
        tree.write("local/applications/org.example.Terminal.desktop",
                   entry("Terminal", "Exec=example-terminal\n"));
        tree.write("local/applications/kde-dolphin.desktop", entry("Shadowed Dolphin"));
        tree.ageFolders();
    }

    EntryIndex makeIndex(EntryIndex::Timing timing = {0s, 3600s})
    {
        return EntryIndex({tree.path("home/applications"), tree.path("missing/applications"),
                           tree.path("usr/applications"), tree.path("local/applications")},
                          true, "C", timing);
    }

    TempDir tree;
};

TEST_F(EntryIndexTest, FirstFolderWinsAndHiddenMeansAbsent)
{
    EntryIndex index = makeIndex();
    ASSERT_TRUE(index.refresh(EntryIndex::Clock::now()));
    const EntryTable& table = index.table();

    const DesktopEntry* editor = table.find("org.example.Editor");
    ASSERT_TRUE(editor);
    EXPECT_EQ(editor->name, "My Editor");
    EXPECT_EQ(editor->icon, "/home/me/editor.png");

    EXPECT_FALSE(table.find("org.example.Gone")) << "Hidden in a better folder hides the rest";
    EXPECT_FALSE(table.find("readme"));
    EXPECT_FALSE(table.find("broken"));
    EXPECT_FALSE(table.find("org.example.Missing"));

    const DesktopEntry* dolphin = table.find("kde-dolphin");
    ASSERT_TRUE(dolphin) << "subfolders join the id with '-'";
    EXPECT_EQ(dolphin->name, "Dolphin");
    ASSERT_TRUE(table.find("org.example.Helper"));
    EXPECT_TRUE(table.find("org.example.Helper")->noDisplay);
    EXPECT_EQ(table.find("org.example.Terminal")->name, "Terminal");
}

TEST_F(EntryIndexTest, WindowsMatchByStartupClassThenId)
{
    EntryIndex index = makeIndex();
    index.refresh(EntryIndex::Clock::now());
    const EntryTable& table = index.table();
    struct
    {
        const char* cls;
        const char* instance;
        const char* id; // nullptr: no match
    } cases[] = {
        {"Gimp-2.10", "gimp-2.10", "gimp"},                // StartupWMClass = class
        {"Other", "Gimp-2.10", "gimp"},                    // StartupWMClass = instance
        {"Org.Example.Editor", "x", "org.example.Editor"}, // id = class, any case
        {"Nope", "org.example.terminal", "org.example.Terminal"},
        {"Nope", "kde-Dolphin", "kde-dolphin"},
        {"gimp-2.10", "gimp-2.10", nullptr}, // StartupWMClass is exact
        {"Nope", "nope", nullptr},
        {"", "", nullptr},
        {"org.example.Gone", "", nullptr}, // hidden entries match nothing
    };
    for (const auto& c : cases) {
        const auto match = table.matchWindow(c.cls, c.instance);
        if (!c.id) {
            EXPECT_FALSE(match && match->entry) << c.cls << " matched " << match->id;
            continue;
        }
        ASSERT_TRUE(match) << c.cls;
        EXPECT_EQ(match->id, c.id) << c.cls;
        EXPECT_TRUE(match->entry) << c.cls;
    }
}

// Changes are seen at the first check after them, checks come no more often than asked, and
// past the maximum age the folders are read again even when nothing changed.
TEST_F(EntryIndexTest, RereadsWhenAFolderChangesAtTheTimesAsked)
{
    EntryIndex index = makeIndex({5s, 60s});
    const auto now = EntryIndex::Clock::now();
    ASSERT_TRUE(index.refresh(now));
    EXPECT_FALSE(index.refresh(now + 5s)) << "nothing changed";
    const std::pair<std::string, std::string> changes[] = {
        {"missing/applications/org.example.New.desktop", "org.example.New"}, // a folder appears
        {"usr/applications/kde/konsole.desktop", "kde-konsole"},             // in a subfolder
    };
    auto at = now + 5s;
    for (const auto& [file, id] : changes) {
        tree.write(file, entry("New"));
        EXPECT_FALSE(index.refresh(at + 4s)) << "too soon";
        EXPECT_TRUE(index.refresh(at += 5s)) << id;
        EXPECT_TRUE(index.table().find(id)) << id;
    }
    std::filesystem::remove(tree.path("home/applications/org.example.Editor.desktop"));
    EXPECT_TRUE(index.refresh(at += 5s));
    EXPECT_EQ(index.table().find("org.example.Editor")->name, "Editor");
    EXPECT_FALSE(index.refresh(now + 55s));
    EXPECT_TRUE(index.refresh(now + 80s)) << "past the maximum age";
}

TEST(EntryIndexEdges, UnreadableAndLoopingFoldersAreAbsorbed)
{
    TempDir tree;
    tree.write("apps/a.desktop", entry("A"));
    std::filesystem::create_directory_symlink(tree.path("apps"), tree.path("apps/loop"));
    std::filesystem::create_symlink(tree.path("nowhere.desktop"),
                                    tree.path("apps/dangling.desktop"));
    tree.makeFolder("apps/folder.desktop");
    EntryIndex index({tree.path("apps"), "relative/ignored", ""}, true, "C", {});
    index.refresh(EntryIndex::Clock::now());
    EXPECT_TRUE(index.table().find("a"));
    EXPECT_TRUE(index.table().find("loop-loop-a")) << "loops end at a fixed depth";
    EXPECT_FALSE(index.table().find("dangling"));
}

} // namespace
} // namespace corvel
