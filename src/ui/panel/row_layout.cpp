#include "row_layout.h"

#include <algorithm>

namespace corvel {

using namespace rowmetrics;

RowGeometry layoutRow(const QRect& row, int nameWidth, int countWidth)
{
    const QRect content = row.adjusted(inset, padding, -inset, -padding);
    RowGeometry g;
    g.icon = QRect(content.left(), content.top() + (content.height() - iconSize) / 2, iconSize,
                   iconSize);
    g.memory =
        QRect(content.right() + 1 - memoryWidth, content.top(), memoryWidth, content.height());
    g.cpu = QRect(g.memory.left() - gap - cpuWidth, content.top(), cpuWidth, content.height());

    // Name and count, then a gap, the (possibly empty) spacer and another gap before the CPU.
    const int nameLeft = g.icon.right() + 1 + gap;
    int room = g.cpu.left() - 2 * gap - nameLeft;
    if (countWidth > 0)
        room -= gap + countWidth;
    const int shownName = std::clamp(nameWidth, 0, std::max(room, 0));
    g.name = QRect(nameLeft, content.top(), shownName, content.height());
    if (countWidth > 0)
        g.count = QRect(g.name.right() + 1 + gap, content.top(), countWidth, content.height());
    return g;
}

int rowHeight(int textHeight)
{
    return padding + std::max(iconSize, textHeight) + padding;
}

} // namespace corvel
