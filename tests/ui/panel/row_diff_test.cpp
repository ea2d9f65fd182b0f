#include "row_diff.h"

#include <algorithm>
#include <array>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

namespace {

using corvel::RowChange;
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

// Lists of one-letter ids; x, y, z and w are new.
TEST(RowDiff, TurnsOneListIntoTheNextWithFewSteps)
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
}

// Lists as they come from sorting by a jittering CPU share, with applications coming and going.
TEST(RowDiff, RandomPublicationsReplayExactly)
{
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

} // namespace
