#pragma once

// Where the panel opens, as plain arithmetic on screen rectangles in global coordinates.

namespace corvel {

struct ScreenRect
{
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

struct ScreenPoint
{
    int x = 0;
    int y = 0;
};

// Top-left corner for a panel of `width` x `height` opened from `anchor` (the status item's
// area; a 1x1 rectangle for a click point): centred under the anchor when there is room below
// it in `available`, else above it, then moved as little as needed to lie fully inside
// `available`. A panel larger than `available` keeps its top-left corner inside.
ScreenPoint placePanel(const ScreenRect& anchor, int width, int height,
                       const ScreenRect& available);

} // namespace corvel
