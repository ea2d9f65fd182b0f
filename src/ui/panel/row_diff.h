#pragma once

// The steps that turn one ordered list of unique row ids into the next, in the terms an item
// model announces them (remove, insert, move), so that views keep each row's identity.

#include <span>
#include <string_view>
#include <vector>

namespace corvel {

struct RowChange
{
    enum class Kind { remove, insert, move, reset };
    Kind kind = Kind::reset;
    int first = 0;       // remove: first row removed; insert: row the first new row takes;
                         // move: the row that moves
    int count = 0;       // rows removed or inserted; 1 for a move
    int destination = 0; // move: the row it goes before, counted before the move
    int source = 0;      // insert: index in the new list of the first inserted row
};

// Applied in order to a list equal to `before`, the steps yield `after`: removes first (last
// rows first, so earlier row numbers stay valid), then inserts and moves in the order of
// `after`. Rows that keep their relative order stay put, so the number of moves is the fewest
// possible. Runs of adjacent rows are removed or inserted in one step. When an id occurs twice
// in one list the only step is a reset.
std::vector<RowChange> diffRows(std::span<const std::string_view> before,
                                std::span<const std::string_view> after);

} // namespace corvel
