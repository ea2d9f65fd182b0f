#include "row_diff.h"

#include <algorithm>
#include <numeric>
#include <unordered_map>
#include <unordered_set>

namespace corvel {
namespace {

// Marks in `stable` (indexed by value) the values of one longest increasing subsequence of
// `values`, which are distinct.
void markLongestIncreasing(const std::vector<int>& values, std::vector<char>& stable)
{
    std::vector<int> tails; // index into values of the smallest tail per length
    std::vector<int> previous(values.size(), -1); // predecessor of each element in its run
    for (int i = 0; i < static_cast<int>(values.size()); ++i) {
        const auto it =
            std::lower_bound(tails.begin(), tails.end(), values[i],
                             [&](int index, int value) { return values[index] < value; });
        if (it != tails.begin())
            previous[i] = *(it - 1);
        if (it == tails.end())
            tails.push_back(i);
        else
            *it = i;
    }
    for (int i = tails.empty() ? -1 : tails.back(); i >= 0; i = previous[i])
        stable[values[i]] = 1;
}

int positionOf(const std::vector<int>& list, int value)
{
    return static_cast<int>(std::find(list.begin(), list.end(), value) - list.begin());
}

} // namespace

std::vector<RowChange> diffRows(std::span<const std::string_view> before,
                                std::span<const std::string_view> after)
{
    const int oldCount = static_cast<int>(before.size());
    const int newCount = static_cast<int>(after.size());
    const std::vector<RowChange> reset{RowChange{}};

    std::unordered_map<std::string_view, int> newIndex;
    newIndex.reserve(after.size());
    for (int i = 0; i < newCount; ++i) {
        if (!newIndex.emplace(after[i], i).second)
            return reset;
    }
    {
        std::unordered_set<std::string_view> seen;
        seen.reserve(before.size());
        for (const std::string_view id : before) {
            if (!seen.insert(id).second)
                return reset;
        }
    }

    std::vector<RowChange> changes;
    std::vector<int> target(oldCount, -1); // each old row's index in `after`, -1 when gone
    for (int i = 0; i < oldCount; ++i) {
        const auto it = newIndex.find(before[i]);
        if (it != newIndex.end())
            target[i] = it->second;
    }
    for (int i = oldCount - 1; i >= 0;) {
        if (target[i] >= 0) {
            --i;
            continue;
        }
        const int last = i;
        while (i >= 0 && target[i] < 0)
            --i;
        changes.push_back({RowChange::Kind::remove, i + 1, last - i, 0, 0});
    }

    // The list as it stands after the removes, each row named by its index in `after`.
    std::vector<int> current;
    current.reserve(after.size());
    std::vector<char> present(newCount, 0);
    for (const int t : target) {
        if (t >= 0) {
            current.push_back(t);
            present[t] = 1;
        }
    }
    std::vector<char> stable(newCount, 0);
    markLongestIncreasing(current, stable);

    // Each row that is new or out of order goes right after its predecessor in `after`. Once
    // all have, every stable row follows its predecessor too, so the list equals `after`.
    for (int i = 0; i < newCount;) {
        const int at = i == 0 ? 0 : positionOf(current, i - 1) + 1;
        if (!present[i]) {
            int end = i;
            while (end < newCount && !present[end])
                ++end;
            changes.push_back({RowChange::Kind::insert, at, end - i, 0, i});
            std::vector<int> added(end - i);
            std::iota(added.begin(), added.end(), i);
            current.insert(current.begin() + at, added.begin(), added.end());
            i = end;
            continue;
        }
        if (!stable[i]) {
            const int from = positionOf(current, i);
            if (from != at) {
                changes.push_back({RowChange::Kind::move, from, 1, at, 0});
                current.erase(current.begin() + from);
                current.insert(current.begin() + (at > from ? at - 1 : at), i);
            }
        }
        ++i;
    }
    return changes;
}

} // namespace corvel
