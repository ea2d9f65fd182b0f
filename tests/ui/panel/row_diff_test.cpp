#include "row_diff.h"

#include <algorithm>
#include <array>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace {

using corvel::RowChange;
using Ids = std::vector<std::string>;

std::vector<RowChange> diff(const Ids& before, const Ids& after)
{
    const std::vector<std::string_view> b(before.begin(), before.end());
    const std::vector<std::string_view> a(after.begin(), after.end());
    return corvel::diffRows(b, a);
}

// Applies the steps the way QAbstractItemModel's begin/end calls define them, checking each
// is in range.
Ids replay(Ids rows, const Ids& after, const std::vector<RowChange>& changes)
{
    for (const RowChange& c : changes) {
        const int size = static_cast<int>(rows.size());
        switch (c.kind) {
        case RowChange::Kind::remove:
            EXPECT_GE(c.first, 0);
            EXPECT_GE(c.count, 1);
            EXPECT_LE(c.first + c.count, size);
            rows.erase(rows.begin() + c.first, rows.begin() + c.first + c.count);
            break;
        case RowChange::Kind::insert:
            EXPECT_GE(c.first, 0);
            EXPECT_LE(c.first, size);
            rows.insert(rows.begin() + c.first, after.begin() + c.source,
                        after.begin() + c.source + c.count);
            break;
        case RowChange::Kind::move: {
            // beginMoveRows refuses a destination inside or right after the moved row.
            EXPECT_TRUE(c.destination < c.first || c.destination > c.first + 1);
            EXPECT_LE(c.destination, size);
            std::string id = rows[c.first];
            rows.erase(rows.begin() + c.first);
            rows.insert(
                rows.begin() + (c.destination > c.first ? c.destination - 1 : c.destination), id);
            break;
        }
        case RowChange::Kind::reset:
            rows = after;
            break;
        }
    }
    return rows;
}

// How many steps of each kind, in the order of RowChange::Kind: removes, inserts, moves, resets.
std::array<int, 4> count(const std::vector<RowChange>& changes)
{
    std::array<int, 4> n{};
    for (const RowChange& c : changes)
        ++n.at(static_cast<std::size_t>(c.kind));
    return n;
}

TEST(RowDiff, TurnsOneListIntoTheNextWithFewSteps)
{
    const struct
    {
        const char* what;
        Ids before, after;
        std::array<int, 4> steps;
    } cases[] = {
        {"unchanged", {"a", "b", "c"}, {"a", "b", "c"}, {0, 0, 0, 0}},
        {"both empty", {}, {}, {0, 0, 0, 0}},
        {"first publication is one insert", {}, {"a", "b", "c"}, {0, 1, 0, 0}},
        {"everything gone is one remove", {"a", "b", "c"}, {}, {1, 0, 0, 0}},
        {"top row sinks to the bottom", {"a", "b", "c", "d"}, {"b", "c", "d", "a"}, {0, 0, 1, 0}},
        {"bottom row rises to the top", {"a", "b", "c", "d"}, {"d", "a", "b", "c"}, {0, 0, 1, 0}},
        {"two neighbours swap", {"a", "b", "c", "d"}, {"a", "c", "b", "d"}, {0, 0, 1, 0}},
        {"reversed", {"a", "b", "c", "d"}, {"d", "c", "b", "a"}, {0, 0, 3, 0}},
        {"runs removed", {"a", "x", "y", "b", "z", "c"}, {"a", "b", "c"}, {2, 0, 0, 0}},
        {"runs inserted", {"a", "b"}, {"x", "y", "a", "z", "b", "w"}, {0, 3, 0, 0}},
        {"all replaced", {"a", "b"}, {"c", "d"}, {1, 1, 0, 0}},
        {"mixed", {"a", "b", "c", "d", "e"}, {"e", "new", "c", "a", "f"}, {2, 2, 2, 0}},
        {"repeated ids after: one reset", {"a", "b"}, {"a", "a"}, {0, 0, 0, 1}},
        {"repeated ids before: one reset", {"a", "a"}, {"a", "b"}, {0, 0, 0, 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<RowChange> changes = diff(c.before, c.after);
        EXPECT_EQ(replay(c.before, c.after, changes), c.after);
        EXPECT_EQ(count(changes), c.steps);
    }
}

// Lists as they come from sorting by a jittering CPU share, with applications coming and going.
TEST(RowDiff, RandomPublicationsReplayExactly)
{
    std::mt19937 random(20240611);
    Ids rows;
    int next = 0;
    for (int round = 0; round < 300; ++round) {
        Ids after = rows;
        std::shuffle(after.begin(), after.end(), random);
        const int drop = after.empty() ? 0 : static_cast<int>(random() % (after.size() / 4 + 1));
        after.resize(after.size() - drop);
        const int add = static_cast<int>(random() % 8);
        for (int i = 0; i < add; ++i)
            after.insert(after.begin() + random() % (after.size() + 1),
                         "app" + std::to_string(next++));
        const std::vector<RowChange> changes = diff(rows, after);
        ASSERT_EQ(replay(rows, after, changes), after) << "round " << round;
        EXPECT_LE(count(changes)[2], static_cast<int>(after.size()));
        rows = std::move(after);
    }
}

} // namespace
