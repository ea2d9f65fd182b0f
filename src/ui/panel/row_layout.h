#pragma once

// Where the parts of one usage row go: icon cell, name, process count, CPU and memory columns.

#include <QRect>

namespace corvel {

namespace rowmetrics {
inline constexpr int inset = 12;  // from the list's leading and trailing edges
inline constexpr int padding = 2; // above and below
inline constexpr int gap = 8;     // between adjacent parts
inline constexpr int iconSize = 20;
inline constexpr int cpuWidth = 60;
inline constexpr int memoryWidth = 70;
inline constexpr int lineIndent = 12; // a process's line under its application's row
} // namespace rowmetrics

struct RowGeometry
{
    QRect icon;   // 20 x 20, vertically centred
    QRect name;   // as wide as the name, or as the room left, whichever is less
    QRect count;  // empty when no count is shown
    QRect cpu;    // 60 wide, text aligned to its trailing edge
    QRect memory; // 70 wide, ends 12 in from the row's trailing edge
};

// Lays out a row occupying `row`, for a name `nameWidth` wide and a count `countWidth` wide
// (0: no count, and no gap for it). Text rects span the row's height inside the padding; the
// text is centred in them vertically.
RowGeometry layoutRow(const QRect& row, int nameWidth, int countWidth);

// The row's height for the tallest of its texts.
int rowHeight(int textHeight);

} // namespace corvel
