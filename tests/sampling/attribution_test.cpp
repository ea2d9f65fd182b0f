#include "attribution.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace corvel;

namespace {

RunningAppRef app(std::int32_t pid, std::optional<std::string> bundleId = std::nullopt,
                  std::optional<std::string> name = std::nullopt,
                  std::optional<std::string> bundlePath = std::nullopt,
                  ActivationPolicy policy = ActivationPolicy::regular)
{
    IconHandle icon =
        bundleId ? std::make_shared<const IconRef>(IconRef{"icon-" + *bundleId}) : IconHandle{};
    return std::make_shared<const RunningApp>(RunningApp{
        .processIdentifier = pid,
        .bundlePath = std::move(bundlePath),
        .activationPolicy = policy,
        .bundleIdentifier = std::move(bundleId),
        .localizedName = std::move(name),
        .icon = std::move(icon),
    });
}

PSRow row(std::int32_t pid, std::int32_t ppid, double cpu = 1, std::int64_t rss = 100,
          std::string command = "/usr/bin/x")
{
    return PSRow{pid, ppid, cpu, rss, std::move(command)};
}

const AppUsage* entry(const Grouping& g, const std::string& id)
{
    for (const AppUsage& a : g.apps)
        if (a.id == id)
            return &a;
    return nullptr;
}

// The id each row's pid ends up under, for attribution tests: one row per probe pid.
std::string ownerOf(const std::vector<PSRow>& rows, std::int32_t probe, const AppsByPID& byPID,
                    const AppsByPath& byPath = {})
{
    std::vector<PSRow> withProbe = rows;
    for (PSRow& r : withProbe)
        r.cpu = r.pid == probe ? 1000 : 0; // the probe's entry sorts first
    const Grouping g = group(withProbe, byPID, byPath);
    return g.apps.empty() ? "" : g.apps.front().id;
}

TEST(Group, EmptyInputsGiveEmptyResults)
{
    const Grouping g = group({}, {}, {});
    EXPECT_TRUE(g.apps.empty());
    EXPECT_EQ(g.total, 0);
}

TEST(Group, WithoutApplicationsEverythingIsSystem)
{
    const Grouping g = group({row(1, 0, 0.5, 10), row(2, 1, 1.25, 20), row(3, 2, 2, 30)}, {}, {});
    ASSERT_EQ(g.apps.size(), 1u);
    EXPECT_EQ(g.apps[0].id, "__system");
    EXPECT_EQ(g.apps[0].name, "System & Background");
    EXPECT_EQ(g.apps[0].icon, nullptr);
    EXPECT_EQ(g.apps[0].processCount, 3);
    EXPECT_EQ(g.apps[0].memoryKB, 60);
    EXPECT_DOUBLE_EQ(g.apps[0].cpu, 3.75);
    EXPECT_DOUBLE_EQ(g.total, 3.75);
}

TEST(Owner, OwnProcessBeatsBundlePath)
{
    const auto editor = app(100, "org.example.Editor", "Editor", "/Apps/Editor.app");
    const auto viewer = app(200, "org.example.Viewer", "Viewer", "/Apps/Viewer.app");
    const AppsByPID byPID{{100, editor}, {200, viewer}};
    const AppsByPath byPath{{"/Apps/Editor.app", editor}, {"/Apps/Viewer.app", viewer}};
    const std::vector<PSRow> rows{row(200, 1, 0, 0, "/Apps/Editor.app/Contents/MacOS/Editor")};
    EXPECT_EQ(ownerOf(rows, 200, byPID, byPath), "org.example.Viewer");
}

TEST(Owner, FirstBundleMarkerDecides)
{
    const auto outer = app(100, "org.example.Suite", "Suite", "/Apps/Suite.app");
    const auto inner = app(300, "org.example.Helper", "Helper", "/Apps/Suite.app/Helper.app");
    const AppsByPath both{{"/Apps/Suite.app", outer}, {"/Apps/Suite.app/Helper.app", inner}};
    const std::vector<PSRow> nested{row(50, 1, 0, 0, "/Apps/Suite.app/Helper.app/Contents/x")};
    EXPECT_EQ(ownerOf(nested, 50, {}, both), "org.example.Suite");

    // Outer not running: the inner bundle is not tried; the ancestor walk decides.
    const AppsByPath innerOnly{{"/Apps/Suite.app/Helper.app", inner}};
    EXPECT_EQ(ownerOf(nested, 50, {}, innerOnly), "__system");

    const auto viewer = app(200, "org.example.Viewer", "Viewer", "/Apps/Viewer.app");
    const AppsByPath viewerPath{{"/Apps/Viewer.app", viewer}};
    // The marker only inside an argument, at the very end, or in another letter case.
    for (const char* command : {"/usr/bin/open /Apps/Viewer.app/Contents/x", "/Apps/Viewer.app",
                                "/Apps/Viewer.APP/x"})
        EXPECT_EQ(ownerOf({row(50, 1, 0, 0, command)}, 50, {}, viewerPath), "__system")
            << command;
    EXPECT_EQ(ownerOf({row(50, 1, 0, 0, "/Apps/Viewer.app/")}, 50, {}, viewerPath),
              "org.example.Viewer");
}

// A chain 1000 -> 1001 -> ... where the application is the process `depth` steps up.
std::vector<PSRow> chain(int depth)
{
    std::vector<PSRow> rows{row(500, 1)};
    std::int32_t parent = 500;
    for (int i = 0; i < depth - 1; ++i) {
        rows.push_back(row(1000 + i, parent));
        parent = 1000 + i;
    }
    rows.push_back(row(9999, parent));
    return rows;
}

TEST(Owner, AncestorWalkReachesTwelveAndNoFurther)
{
    const AppsByPID byPID{{500, app(500, "org.example.Shell")}};
    EXPECT_EQ(ownerOf(chain(1), 9999, byPID), "org.example.Shell");
    EXPECT_EQ(ownerOf(chain(2), 9999, byPID), "org.example.Shell");
    EXPECT_EQ(ownerOf(chain(12), 9999, byPID), "org.example.Shell");
    EXPECT_EQ(ownerOf(chain(13), 9999, byPID), "__system");
}

TEST(Owner, AncestorWalkBoundaries)
{
    const AppsByPID initApp{{1, app(1, "init")}, {0, app(0, "zero")}};
    EXPECT_EQ(ownerOf({row(50, 1)}, 50, initApp), "__system"); // 1 and 0 are never looked up
    EXPECT_EQ(ownerOf({row(50, 0)}, 50, initApp), "__system");

    // A parent missing from the snapshot is still looked up, then the walk stops.
    const AppsByPID absentParent{{77, app(77, "gone.parent")}};
    EXPECT_EQ(ownerOf({row(50, 77)}, 50, absentParent), "gone.parent");
    const AppsByPID farAbove{{2, app(2, "kthreadd")}};
    EXPECT_EQ(ownerOf({row(50, 77)}, 50, farAbove), "__system");

    // A cycle of two processes ends after twelve lookups.
    EXPECT_EQ(ownerOf({row(60, 61), row(61, 60)}, 60, {{5, app(5, "x")}}), "__system");
}

TEST(Group, DuplicatePidsFirstParentWinsAndBothCount)
{
    const AppsByPID byPID{{10, app(10, "org.example.A")}};
    // The second row of pid 20 walks from its own parent, 1, and stays unattributed; its
    // child follows the parent map, where the first row's parent, 10, is kept.
    const Grouping g = group({row(20, 10, 2, 5), row(20, 1, 1, 5), row(30, 20, 1, 5)}, byPID, {});
    ASSERT_EQ(g.apps.size(), 2u);
    EXPECT_EQ(g.apps[0].id, "org.example.A");
    EXPECT_EQ(g.apps[0].processCount, 2);
    EXPECT_EQ(g.apps[1].id, "__system");
    EXPECT_EQ(g.apps[1].processCount, 1);
}

TEST(Group, InstancesOfOneIdentifierMergeUnderTheFirstRowsName)
{
    const AppsByPID byPID{{10, app(10, "org.example.Term", "Terminal One")},
                          {20, app(20, "org.example.Term", "Terminal Two")}};
    const Grouping g = group({row(20, 1, 2, 100), row(10, 1, 3, 50), row(11, 10, 1, 1)}, byPID, {});
    ASSERT_EQ(g.apps.size(), 1u);
    EXPECT_EQ(g.apps[0].name, "Terminal Two");
    EXPECT_EQ(g.apps[0].processCount, 3);
    EXPECT_DOUBLE_EQ(g.apps[0].cpu, 6);
    EXPECT_EQ(g.apps[0].memoryKB, 151);
}

TEST(Group, FallbacksForMissingIdentifierNameAndIcon)
{
    const AppsByPID byPID{{812, app(812)}, {900, app(900, "org.example.N")}};
    const Grouping g = group({row(812, 1), row(900, 1)}, byPID, {});
    const AppUsage* anonymous = entry(g, "pid812");
    ASSERT_NE(anonymous, nullptr);
    EXPECT_EQ(anonymous->name, "pid812");
    EXPECT_EQ(anonymous->icon, nullptr);
    const AppUsage* named = entry(g, "org.example.N");
    ASSERT_NE(named, nullptr);
    EXPECT_EQ(named->name, "org.example.N");
    ASSERT_NE(named->icon, nullptr);
    EXPECT_EQ(named->icon->nameOrPath, "icon-org.example.N");
    // A child's "pid" id comes from the application's process, not the child's.
    EXPECT_EQ(group({row(5000, 812)}, byPID, {}).apps[0].id, "pid812");
}

TEST(Group, SortsByCpuThenMemoryWithoutPinningSystem)
{
    const AppsByPID byPID{{10, app(10, "a")}, {20, app(20, "b")}, {30, app(30, "c")}};
    const Grouping g = group({row(10, 1, 5, 1), row(20, 1, 0, 900), row(30, 1, 0, 1000),
                              row(40, 1, 250, 1)},
                             byPID, {});
    ASSERT_EQ(g.apps.size(), 4u);
    EXPECT_EQ(g.apps[0].id, "__system");
    EXPECT_DOUBLE_EQ(g.apps[0].cpu, 250); // not capped
    EXPECT_EQ(g.apps[1].id, "a");
    EXPECT_EQ(g.apps[2].id, "c"); // equal cpu: more memory first
    EXPECT_EQ(g.apps[3].id, "b");
}

// A share that is not a number cannot be ordered by the share; such entries go last.
TEST(Group, NotANumberSharesSortAfterAllOthers)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    AppsByPID byPID;
    std::vector<PSRow> rows;
    for (int i = 0; i < 200; ++i) {
        byPID[100 + i] = app(100 + i, "app" + std::to_string(i));
        rows.push_back(row(100 + i, 1, i % 3 == 0 ? nan : i, 1000 - i));
    }
    const Grouping g = group(rows, byPID, {});
    ASSERT_EQ(g.apps.size(), 200u);
    EXPECT_TRUE(std::isnan(g.total));
    bool seenNan = false;
    for (std::size_t i = 0; i < g.apps.size(); ++i) {
        const bool isNan = std::isnan(g.apps[i].cpu);
        EXPECT_FALSE(seenNan && !isNan) << "a number after a NaN at " << i;
        seenNan = seenNan || isNan;
        if (i > 0 && isNan && std::isnan(g.apps[i - 1].cpu)) {
            EXPECT_GE(g.apps[i - 1].memoryKB, g.apps[i].memoryKB);
        }
        if (i > 0 && !isNan) {
            EXPECT_GE(g.apps[i - 1].cpu, g.apps[i].cpu);
        }
    }
}

TEST(Lookups, PolicyAndLaterRecordsWin)
{
    const auto regular = app(10, "r", {}, "/A.app");
    const auto accessory = app(11, "acc", {}, "/B.app", ActivationPolicy::accessory);
    const auto prohibited = app(12, "p", {}, "/C.app", ActivationPolicy::prohibited);
    const auto sameBundle = app(13, "r2", {}, "/A.app");
    const auto noBundle = app(14, "nb");
    const auto samePid = app(10, "later");
    const AppLookups l =
        buildLookups({regular, accessory, prohibited, sameBundle, noBundle, samePid, nullptr});
    EXPECT_EQ(l.byPID.count(12), 0u);
    EXPECT_EQ(l.byBundlePath.count("/C.app"), 0u);
    EXPECT_EQ(l.byPID.at(11), accessory);
    EXPECT_EQ(l.byBundlePath.at("/B.app"), accessory);
    EXPECT_EQ(l.byBundlePath.at("/A.app"), sameBundle);
    EXPECT_EQ(l.byPID.at(13), sameBundle);
    EXPECT_EQ(l.byPID.at(14), noBundle);
    EXPECT_EQ(l.byBundlePath.size(), 2u);
    EXPECT_EQ(l.byPID.at(10), samePid);
}

} // namespace
