#include "placement.h"

#include <algorithm>

namespace corvel {
namespace {

// Clamps the start of a span of `length` into [low, high), preferring `low` when it cannot fit.
int clampSpan(int start, int length, int low, int high)
{
    return std::max(low, std::min(start, high - length));
}

} // namespace

ScreenPoint placePanel(const ScreenRect& anchor, int width, int height,
                       const ScreenRect& available)
{
    const int top = available.y;
    const int bottom = available.y + available.height;

    const int x = anchor.x + anchor.width / 2 - width / 2;
    const int below = anchor.y + anchor.height;
    const int above = anchor.y - height;
    int y = below;
    if (below + height > bottom && above >= top)
        y = above;
    else if (below + height > bottom && bottom - below < anchor.y - top)
        y = above; // fits on neither side: take the roomier one, then clamp

    return {clampSpan(x, width, available.x, available.x + available.width),
            clampSpan(y, height, top, bottom)};
}

} // namespace corvel
