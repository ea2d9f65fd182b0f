// The list's pure logic: which entries it shows in which order (on a clock of the test's own),
// and the steps from one list to the next.
#include "row_arrangement.h"
#include "row_diff.h"

#include <algorithm>
#include <array>
#include <gtest/gtest.h>
#include <numeric>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace corvel;
using namespace std::chrono_literals;
using Ids = std::vector<std::string>;

// Applies the steps of diffRows(before, after) as a model's begin/end calls define them, each
// checked to be in range, and counts the steps of each kind (remove, insert, move, reset).
std::pair<Ids, std::array<int, 4>> replay(Ids rows, const Ids& after)
{
    using enum RowChange::Kind;
    const std::vector<std::string_view> b(rows.begin(), rows.end()), a(after.begin(), after.end());
    std::array<int, 4> steps{};
    for (const RowChange& c : corvel::diffRows(b, a)) {
        ++steps.at(static_cast<std::size_t>(c.kind));
        const int size = static_cast<int>(rows.size());
        const auto at = rows.begin() + c.first;
        EXPECT_TRUE(c.kind == reset || (c.first >= 0 && c.count >= 1 &&
                                        c.first + (c.kind == insert ? 0 : c.count) <= size));
        // beginMoveRows refuses a destination inside or right after the moved row.
        EXPECT_TRUE(c.kind != move || ((c.destination < c.first || c.destination > c.first + 1) &&
                                       c.destination <= size));
        if (c.kind == remove)
            rows.erase(at, at + c.count);
        else if (c.kind == insert)
            rows.insert(at, after.begin() + c.source, after.begin() + c.source + c.count);
        else if (c.kind == reset)
            rows = after;
        else {
            const std::string id = *at;
            rows.erase(at);
            rows.insert(rows.begin() + c.destination - (c.destination > c.first), id);
        }
    }
    return {rows, steps};
}

// Lists of one-letter ids (x, y, z and w are new), then lists as they come from sorting by a
// jittering CPU share, with applications coming and going.
TEST(RowDiff, TurnsOneListIntoTheNextWithFewStepsAndReplaysRandomPublicationsExactly)
{
    const std::tuple<std::string, std::string, std::array<int, 4>> cases[] = {
        {"abc", "abc", {0, 0, 0, 0}},   {"", "abc", {0, 1, 0, 0}},
        {"abc", "", {1, 0, 0, 0}},      {"abcd", "bcda", {0, 0, 1, 0}},
        {"abcd", "dabc", {0, 0, 1, 0}}, {"abcd", "acbd", {0, 0, 1, 0}},
        {"abcd", "dcba", {0, 0, 3, 0}}, {"axybzc", "abc", {2, 0, 0, 0}},
        {"ab", "xyazbw", {0, 3, 0, 0}}, {"abcde", "excaw", {2, 2, 2, 0}},
        {"ab", "aa", {0, 0, 0, 1}},     {"aa", "ab", {0, 0, 0, 1}}}; // repeated ids: a reset
    for (const auto& [before, after, steps] : cases) {
        Ids b, a;
        std::for_each(before.begin(), before.end(), [&](char id) { b.emplace_back(1, id); });
        std::for_each(after.begin(), after.end(), [&](char id) { a.emplace_back(1, id); });
        EXPECT_EQ(replay(b, a), std::pair(a, steps)) << before << " to " << after;
    }
    std::mt19937 random(20240611);
    Ids rows;
    for (int round = 0, next = 0; round < 300; ++round) {
        Ids after = rows;
        std::shuffle(after.begin(), after.end(), random);
        after.resize(after.size() - random() % (after.size() / 4 + 1));
        for (int add = static_cast<int>(random() % 8); add > 0; --add)
            after.insert(after.begin() + random() % (after.size() + 1), std::to_string(next++));
        ASSERT_EQ(replay(rows, after).first, after) << "round " << round;
        rows = std::move(after);
    }
}

// An application whose processes are `pids`, busiest first.
AppUsage app(const std::string& id, std::vector<std::int32_t> pids = {})
{
    auto processes = std::make_shared<std::vector<ProcessUsage>>();
    for (const std::int32_t pid : pids)
        processes->push_back({pid, "p" + std::to_string(pid), 0, 0});
    return {id, id, nullptr, 0, 0, static_cast<std::int64_t>(pids.size()), std::move(processes)};
}

// Rows by id, lines as "/pid" or "+N" for the line that counts the rest, "~" after one fading.
std::string render(const std::vector<ListEntry>& list)
{
    std::string text;
    for (const ListEntry& e : list)
        text += (text.empty() ? "" : " ") +
                (e.kind == ListEntry::Kind::app       ? e.key
                 : e.kind == ListEntry::Kind::process ? "/" + std::to_string(e.process.pid)
                                                      : "+" + std::to_string(e.more)) +
                (e.endedAt ? "~" : "");
    return text;
}

// Each step publishes a list to the list shown by the step before, at its own time.
TEST(ArrangeList, HeldOrdersFadesAndTheLinesOfUnfoldedRows)
{
    std::vector<std::int32_t> busy(25);
    std::iota(busy.begin(), busy.end(), 100);
    std::vector<std::int32_t> shifted(busy.begin() + 3, busy.end());
    shifted.insert(shifted.begin() + 1, 99);
    const auto t0 = ListClock::now();
    using Unfolded = std::set<std::string, std::less<>>;
    // clang-format off
    const std::tuple<std::vector<AppUsage>, Unfolded, ListHolds, ListClock::duration, const char*>
        steps[] = {
        {{app("c"), app("b", {5}), app("a", {1, 2})}, {"a"}, {}, 0ms, "c b a /1 /2"},
        // Held: the rows stay, a new one joins at the end, one that ended fades where it was.
        {{app("d"), app("a", {2, 1}), app("c")}, {"a"}, {true, false}, 0ms, "c b~ a /2 /1 d"},
        {{app("d"), app("a", {3, 2}), app("c")}, {"a"}, {true, true}, 100ms,
         "c b~ a /2 /1~ /3 d"},
        // The fade ends; an application that ended takes its lines with it.
        {{app("d"), app("c")}, {"a"}, {true, true}, fadeTime + 10ms, "c a~ /2~ /1~ /3~ d"},
        {{app("d"), app("c")}, {"a"}, {true, true}, fadeTime + 105ms, "c a~ /2~ /3~ d"},
        {{app("d"), app("c")}, {"a"}, {true, true}, 2 * fadeTime + 20ms, "c d"},
        // "System & Background": its busiest, then a line for the rest; held, those shown stay.
        {{app("c"), app("__system", busy)}, {"__system"}, {}, 0ms,
         "c __system /100 /101 /102 /103 /104 /105 /106 /107 /108 /109 /110 /111 /112 /113 /114 "
         "/115 /116 /117 /118 /119 +5"},
        {{app("__system", shifted), app("c")}, {"__system"}, {true, true}, 0ms,
         "c __system /100~ /101~ /102~ /103 /104 /105 /106 /107 /108 /109 /110 /111 /112 /113 "
         "/114 /115 /116 /117 /118 /119 /99 /120 /121 +3"},
    };
    // clang-format on
    std::vector<ListEntry> shown;
    for (const auto& [published, unfolded, holds, at, expected] : steps) {
        shown = arrangeList(shown, published, unfolded, holds, t0 + at);
        EXPECT_EQ(render(shown), expected);
    }
}

} // namespace
