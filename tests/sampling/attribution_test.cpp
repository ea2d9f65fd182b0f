#include "attribution.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

using namespace corvel;

namespace {

RunningAppRef app(std::int32_t pid, std::optional<std::string> id = std::nullopt,
                  std::optional<std::string> name = std::nullopt,
                  std::optional<std::string> bundlePath = std::nullopt,
                  ActivationPolicy policy = ActivationPolicy::regular)
{
    IconHandle icon = id ? std::make_shared<const IconRef>(IconRef{"icon-" + *id}) : IconHandle{};
    return std::make_shared<const RunningApp>(
        RunningApp{pid, std::move(bundlePath), policy, std::move(id), std::move(name), icon});
}

PSRow row(std::int32_t pid, std::int32_t ppid, double cpu = 1, std::int64_t rss = 100,
          std::string command = "/usr/bin/x")
{
    return PSRow{pid, ppid, cpu, rss, std::move(command)};
}

// One process table for every ownership rule: applications a (pid 100, bundle /Apps/A.app) and
// b (pid 200); a terminal unit (1) with its server, a tab's shell, a command, and an editor
// started in the tab (its own process by program); a unit (2) the desktop made for a program
// that b asked for.
struct World
{
    RunningAppRef a = app(100, "a", {}, "/Apps/A.app"), b = app(200, "b");
    RunningAppRef term = app(0, "term"), editor = app(0, "editor"), meld = app(0, "meld");
    AppsByPID byPID{{100, a}, {200, b}, {250, b}, {302, editor}};
    AppsByPath byPath{{"/Apps/A.app", a}};
    UnitsByPID byUnit{{300, {term, 1}}, {301, {term, 1}}, {302, {term, 1}}, {303, {term, 1}},
                      {304, {term, 1}}, {400, {meld, 2}}, {401, {meld, 2}}};
    std::vector<PSRow> rows{row(110, 1, 1, 1, "/Apps/A.app/Contents/helper --x"),
                            row(111, 1, 1, 1, "/Apps/B.app/x"),
                            row(112, 1, 1, 1, "/Apps/A.app"),
                            row(113, 1, 1, 1, "/Apps/A.APP/x"),
                            row(114, 1, 1, 1, "/bin/y /Apps/A.app/z"),
                            row(200, 1, 1, 1, "/Apps/A.app/own")};
    World()
    {
        constexpr int links[][2] = {{100, 1},   {101, 100}, {102, 101}, {600, 601},
                                    {601, 600}, {700, 250}, {300, 1},   {301, 300},
                                    {302, 301}, {303, 302}, {304, 301}, {400, 200},
                                    {401, 400}, {402, 303}, {403, 301}, {500, 100}};
        for (const auto& [pid, ppid] : links)
            rows.push_back(row(pid, ppid));
        for (int pid = 501; pid <= 512; ++pid)
            rows.push_back(row(pid, pid - 1));
    }
};

// The id under which one process is counted: the probe alone carries CPU and sorts first.
std::string ownerOf(const World& w, std::int32_t probe)
{
    std::vector<PSRow> rows = w.rows;
    for (PSRow& r : rows)
        r.cpu = r.pid == probe ? 1000 : 0;
    const Grouping g = group(rows, w.byPID, w.byPath, w.byUnit);
    return g.apps.front().id;
}

TEST(Owner, EachRuleInItsOrder)
{
    const World w;
    // Own process, parent, grandparent; a bundle's helper but not a look-alike path; an own
    // process before the bundle in its command; the twelfth ancestor counts, the thirteenth
    // not; a parent cycle ends; a parent outside the snapshot is still looked up; the terminal
    // keeps its shell and commands; an application started in a tab keeps its helpers; a unit
    // is not taken by the program that asked for it; from outside any unit the walk goes on.
    const std::pair<std::int32_t, const char*> cases[] = {
        {100, "a"},        {101, "a"},        {102, "a"},        {110, "a"},    {111, "__system"},
        {112, "__system"}, {113, "__system"}, {114, "__system"}, {200, "b"},    {511, "a"},
        {512, "__system"}, {600, "__system"}, {700, "b"},        {300, "term"}, {301, "term"},
        {304, "term"},     {302, "editor"},   {303, "editor"},   {400, "meld"}, {401, "meld"},
        {402, "editor"},   {403, "term"}};
    for (const auto& [pid, id] : cases)
        EXPECT_EQ(ownerOf(w, pid), id) << "pid " << pid;
}

TEST(Group, SumsFallbacksAndMerging)
{
    EXPECT_TRUE(group({}, {}, {}).apps.empty());
    const Grouping none = group({row(1, 0, 2, 5), row(2, 1, 3, 7)}, {}, {});
    ASSERT_EQ(none.apps.size(), 1u);
    EXPECT_EQ(none.apps[0].id, "__system");
    EXPECT_EQ(none.apps[0].name, "System & Background");
    EXPECT_EQ(none.apps[0].processCount, 2);
    EXPECT_EQ(none.apps[0].memoryKB, 12);
    EXPECT_DOUBLE_EQ(none.total, 5);

    // Two instances of one id make one entry named by the first row's application; an
    // application without id is "pid" and its own process, named by that, without icon.
    const AppsByPID byPID{{10, app(10, "t", "One")}, {20, app(20, "t", "Two")}, {812, app(812)}};
    const Grouping g = group({row(20, 1, 2, 100), row(10, 1, 3, 50), row(11, 10, 1, 1),
                              row(5000, 812), row(20, 1, 1, 1)},
                             byPID, {});
    ASSERT_EQ(g.apps.size(), 2u);
    EXPECT_EQ(g.apps[0].name, "Two");
    EXPECT_EQ(g.apps[0].processCount, 4); // a pid listed twice counts twice
    EXPECT_DOUBLE_EQ(g.apps[0].cpu, 7);
    EXPECT_EQ(g.apps[0].memoryKB, 152);
    EXPECT_EQ(g.apps[0].icon->nameOrPath, "icon-t");
    EXPECT_EQ(g.apps[1].id, "pid812");
    EXPECT_EQ(g.apps[1].name, "pid812");
    EXPECT_EQ(g.apps[1].icon, nullptr);
}

TEST(Group, IntegerSumsSaturate)
{
    constexpr std::int64_t max = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t min = std::numeric_limits<std::int64_t>::min();
    const Grouping up = group({row(1, 0, 1, max - 1), row(2, 0, 1, 5), row(3, 0, 1, -1)}, {}, {});
    EXPECT_EQ(up.apps[0].memoryKB, max - 1); // stays at the limit, then moves off it again
    const Grouping down = group({row(1, 0, 1, min + 1), row(2, 0, 1, -5)}, {}, {});
    EXPECT_EQ(down.apps[0].memoryKB, min);
}

TEST(Group, SortsByCpuThenMemoryAndNotANumberLast)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const AppsByPID byPID{{10, app(10, "a")},
                          {20, app(20, "b")},
                          {30, app(30, "c")},
                          {40, app(40, "n")},
                          {50, app(50, "m")}};
    const Grouping g = group({row(10, 1, 5, 1), row(20, 1, 0, 900), row(30, 1, 0, 1000),
                              row(99, 1, 250, 1), row(40, 1, nan, 1), row(50, 1, nan, 9)},
                             byPID, {});
    std::vector<std::string> order;
    for (const AppUsage& a : g.apps)
        order.push_back(a.id);
    EXPECT_EQ(order, (std::vector<std::string>{"__system", "a", "c", "b", "m", "n"}));
    EXPECT_DOUBLE_EQ(g.apps[0].cpu, 250); // not capped
}

TEST(Lookups, PolicyLaterRecordsAndTheDesktopsMaps)
{
    const auto regular = app(10, "r", {}, "/A.app");
    const auto accessory = app(11, "acc", {}, "/B.app", ActivationPolicy::accessory);
    const auto prohibited = app(12, "p", {}, "/C.app", ActivationPolicy::prohibited);
    const auto sameBundle = app(13, "r2", {}, "/A.app");
    const auto samePid = app(10, "later");
    const auto byUnitOnly = app(0, "u");
    const AppLookups l =
        buildLookups({{regular, accessory, prohibited, sameBundle, samePid, byUnitOnly, nullptr},
                      {{13, regular}, {14, prohibited}},
                      {{20, {byUnitOnly, 1}}, {21, {prohibited, 2}}}});
    EXPECT_EQ(l.byPID.count(12) + l.byPID.count(14) + l.byPID.count(0), 0u);
    EXPECT_EQ(l.byPID.at(11), accessory);
    EXPECT_EQ(l.byPID.at(10), samePid);
    EXPECT_EQ(l.byPID.at(13), regular); // the desktop's map is applied last
    EXPECT_EQ(l.byBundlePath.size(), 2u);
    EXPECT_EQ(l.byBundlePath.at("/A.app"), sameBundle);
    EXPECT_EQ(l.byUnit.size(), 1u);
    EXPECT_EQ(l.byUnit.at(20).app, byUnitOnly);
}

} // namespace
