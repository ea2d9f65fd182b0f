#include "attribution.h"
#include "group_cache.h"

#include <cmath>
#include <gtest/gtest.h>
#include <regex>
#include <sstream>

using namespace corvel;

namespace {

using Text = std::optional<std::string>;
RunningAppRef app(std::int32_t pid, Text id = {}, Text name = {}, Text bundlePath = {},
                  ActivationPolicy policy = ActivationPolicy::regular)
{
    IconHandle icon = id ? std::make_shared<const IconRef>(IconRef{"icon-" + *id}) : nullptr;
    return std::make_shared<const RunningApp>(RunningApp{pid, bundlePath, policy, id, name, icon});
}

// Each entry as "id name processes cpu memory icon; ", in the order shown; detailed, with its
// processes as "[pid program cpu memory]".
std::string entries(const Grouping& g)
{
    std::ostringstream text;
    for (const AppUsage& a : g.apps) {
        text << a.id << " " << a.name << " " << a.processCount << " " << a.cpu << " " << a.memoryKB
             << " " << (a.icon ? a.icon->nameOrPath : "-");
        for (const ProcessUsage& p : a.processes ? *a.processes : std::vector<ProcessUsage>{})
            text << " [" << p.pid << " " << p.program << " " << p.cpu << " " << p.memoryKB << "]";
        text << "; ";
    }
    return text.str();
}

// Applications a (pid 100, bundle /Apps/A.app) and b (200); a terminal unit (1: server, a tab's
// shell and commands, an editor started in the tab); a unit (2) made for a program b asked for;
// ancestors 501..512 of a; init (1) is never an ancestor, kthreadd (2) is; 305 is in the unit
// but not in the snapshot; 130 is listed twice. Through buildLookups: a prohibited application (p)
// claims nothing, an accessory one does, a later record wins (x), the desktop's map is applied last
// (170 is b's).
TEST(Owner, EachRuleInItsOrder)
{
    const RunningAppRef a = app(100, "a", {}, "/Apps/A.app"), b = app(200, "b");
    const RunningAppRef term = app(0, "term"), editor = app(0, "editor"), meld = app(0, "meld");
    const RunningAppRef p = app(150, "p", {}, "/Apps/P.app", ActivationPolicy::prohibited);
    RunningApps running{{app(100, "x", {}, "/Apps/A.app"), app(170, "y"), a, b, term, editor, meld,
                         p, app(160, "acc", {}, {}, ActivationPolicy::accessory), nullptr,
                         app(1, "init"), app(2, "kthreadd")},
                        {{250, b}, {302, editor}, {151, p}, {170, b}},
                        {{400, {meld, 2}}, {401, {meld, 2}}, {152, {p, 3}}}};
    for (int pid = 300; pid <= 306; ++pid)
        running.byUnit[pid] = {term, 1};
    const AppLookups l = buildLookups(std::move(running));
    // clang-format off
    const std::tuple<int, int, const char*> table[] = {
        {110, 1, "/Apps/A.app/Contents/helper --x"}, {111, 1, "/Apps/B.app/x"},
        {112, 1, "/Apps/A.app"}, {113, 1, "/Apps/A.APP/x"}, {114, 1, "/bin/y /Apps/A.app/z"},
        {200, 1, "/Apps/A.app/own"}, {100, 1, ""}, {101, 100, ""}, {102, 101, ""}, {600, 601, ""},
        {601, 600, ""}, {700, 250, ""}, {300, 1, ""}, {301, 300, ""}, {302, 301, ""},
        {303, 302, ""}, {304, 301, ""}, {400, 200, ""}, {401, 400, ""}, {402, 303, ""},
        {403, 301, ""}, {500, 100, ""}, {150, 1, "/Apps/P.app/x"}, {151, 1, ""}, {152, 1, ""},
        {0, 0, ""}, {160, 1, ""}, {170, 1, ""}, {120, 2, ""}, {306, 305, ""}, {130, 100, ""},
        {130, 1, ""}, {131, 130, ""}};
    const std::pair<std::int32_t, const char*> cases[] = {
        {100, "a"}, {101, "a"}, {102, "a"}, {110, "a"}, {111, "__system"}, {112, "__system"},
        {113, "__system"}, {114, "__system"}, {200, "b"}, {511, "a"}, {512, "__system"},
        {600, "__system"}, {700, "b"}, {300, "term"}, {301, "term"}, {304, "term"},
        {302, "editor"}, {303, "editor"}, {400, "meld"}, {401, "meld"}, {402, "editor"},
        {403, "term"}, {150, "__system"}, {151, "__system"}, {152, "__system"}, {0, "__system"},
        {160, "acc"}, {170, "b"}, {120, "kthreadd"}, {306, "term"}, {131, "a"}};
    // clang-format on
    std::vector<PSRow> rows;
    for (const auto& [pid, ppid, command] : table)
        rows.push_back({pid, ppid, 0, 1, command});
    for (int pid = 501; pid <= 512; ++pid)
        rows.push_back({pid, pid - 1, 0, 1, ""});
    for (const auto& [pid, id] : cases) {
        for (PSRow& r : rows) // the probe alone carries CPU, so its owner sorts first
            r.cpu = r.pid == pid ? 1 : 0;
        EXPECT_EQ(group(rows, l.byPID, l.byBundlePath, l.byUnit).apps.front().id, id) << pid;
    }
}

// One entry per id, named by the first row's application; "pid<N>" without id; CPU descending,
// ties by memory, NaN last; memory sums saturate rather than wrap. Detailed, each entry lists its
// processes by program name, sorted as entries are, then by pid.
TEST(Group, SumsMergesSortsAndListsEachProcessByItsProgram)
{
    EXPECT_TRUE(group({}, {}, {}).apps.empty());
    const Grouping up =
        group({{1, 0, 1, INT64_MAX - 1, ""}, {2, 1, 2, 5, ""}, {3, 0, 3, -1, ""}}, {}, {});
    EXPECT_EQ(entries(up),
              "__system System & Background 3 6 " + std::to_string(INT64_MAX - 1) + " -; ");
    EXPECT_EQ(up.total, 6);
    EXPECT_EQ(group({{1, 0, 1, INT64_MIN + 1, ""}, {2, 0, 1, -5, ""}}, {}, {}).apps[0].memoryKB,
              INT64_MIN);

    const AppsByPID byPID{{10, app(10, "t", "One")}, {20, app(20, "t", "Two")}, {812, app(812)},
                          {30, app(30, "c")},        {31, app(31, "d")},        {40, app(40, "n")},
                          {50, app(50, "m")}};
    // clang-format off
    const Grouping g = group({{20, 1, 2, 100, ""}, {10, 1, 3, 50, ""}, {11, 10, 1, 1, ""},
        {5000, 812, 2, 7, ""}, {20, 1, 1, 1, ""}, {30, 1, 2, 9, ""}, {31, 1, 2, 8, ""},
        {99, 1, 250, 1, ""}, {40, 1, NAN, 1, ""}, {50, 1, NAN, 9, ""}}, byPID, {});
    EXPECT_EQ(entries(g), "__system System & Background 1 250 1 -; t Two 4 7 152 icon-t; "
        "c c 1 2 9 icon-c; d d 1 2 8 icon-d; pid812 pid812 1 2 7 -; m m 1 nan 9 icon-m; "
        "n n 1 nan 1 icon-n; ");

    const Grouping d = group({{10, 1, 1, 5, "/usr/lib/t/t --type=zygote"}, {11, 10, 2, 1, "sshd: alice@pts/0"},
        {12, 10, 2, 1, "[kworker/0:1H-events]"}, {13, 10, 2, 3, "  ./a b"}, {14, 10, 1, 5, "/opt/x/"},
        {63, 1, 0, 1, "[z] <defunct>"}, {62, 1, 0, 1, "   "}, {61, 1, 0, 1, ""}, {60, 1, 0, 1, "[]"},
        {64, 1, NAN, 1, ":"}}, byPID, {}, {}, true);
    EXPECT_EQ(entries(d), "t One 5 8 15 icon-t [13 a 2 3] [11 sshd 2 1] [12 kworker/0:1H-events 2 1] "
        "[10 t 1 5] [14 /opt/x/ 1 5]; __system System & Background 5 nan 5 - [60 [] 0 1] [61  0 1] "
        "[62  0 1] [63 z 0 1] [64 : nan 1]; ");
    // clang-format on
}

// Idle parts' attributions are kept while their rows, the lookups and the ancestors their walks
// went through stay; every cycle equals a whole regrouping of the same rows, detailed or not.
TEST(GroupCache, EqualsAWholeRegroupingAsPartsChange)
{
    for (const bool detailed : {false, true}) {
        SCOPED_TRACE(detailed);
        using Rows = std::vector<PSRow>;
        const auto part = [](std::uint64_t key, Rows rows) {
            return RowPart{key, std::make_shared<const Rows>(std::move(rows))};
        };
        RunningApps running{{app(100, "a", "A"), app(200, "b", "B"), app(0, "u", "U")}, {}, {}};
        for (const int pid : {900, 901})
            running.byUnit[pid] = {running.apps[2], 1};
        // Live rows; a's idle helpers; helpers of b through a live ancestor (250); a unit's.
        std::vector<RowPart> parts{
            part(0, {{100, 1, 5, 10, ""}, {200, 1, 2, 20, ""}, {250, 200, 1, 1, ""}}),
            part(7, {{700, 100, 0, 7, ""}, {701, 700, 0, 7, ""}}),
            part(8, {{800, 250, 0, 8, ""}, {801, 800, 0, 8, ""}, {802, 1, 0, 8, "/x.app/y"}}),
            part(9, {{900, 1, 0, 9, ""}, {901, 900, 0, 9, ""}})};
        GroupCache cache;
        const auto cycle = [&](const RunningApps& apps, std::size_t reused) {
            const AppLookups l = buildLookups(apps);
            Rows all;
            for (const RowPart& p : parts)
                all.insert(all.end(), p.rows->begin(), p.rows->end());
            EXPECT_EQ(entries(cache.group(parts, l, detailed)),
                      entries(group(all, l.byPID, l.byBundlePath, l.byUnit, detailed)));
            EXPECT_EQ(cache.reusedRows(), reused);
        };
        cycle(running, 0);
        parts[0] = part(0, {{100, 1, 3, 10, ""}, {200, 1, 4, 21, ""}, {250, 200, 0, 1, ""}});
        cycle(running, 7);
        parts[0] = part(0, {{100, 1, 3, 10, ""}, {200, 1, 4, 21, ""}, {250, 1, 0, 1, ""}});
        cycle(running, 4); // 250 left b: part 8 again
        running.apps[0] = app(100, "a", "A2");
        cycle(running, 0); // the records changed
        running.apps[0] = app(100, "a", "A2");
        running.apps.push_back(app(0, "z", "Z", "/x.app"));
        cycle(running, 0);
        cycle(running, 10); // the live rows too, handed over again
        parts[1] = part(7, {{700, 100, 0, 7, ""}, {702, 700, 0, 70, ""}});
        parts.erase(parts.begin() + 3);
        parts[0] = part(0, {{100, 1, 3, 10, ""}, {901, 800, 9, 9, ""}});
        cycle(running, 0); // 250, which part 8's walk went through, is gone
        // Once more from the rows kept, in the other detail: every part again, the same figures.
        const auto figures = [&](bool detail) {
            return std::regex_replace(entries(*cache.regroup(detail)), std::regex(R"( \[[^\]]*\])"),
                                      "");
        };
        const std::string other = figures(!detailed);
        EXPECT_EQ(std::pair(other, cache.reusedRows()), std::pair(figures(detailed), 0ul));
    }
    EXPECT_EQ(GroupCache().regroup(true), std::nullopt);
}

} // namespace
