#pragma once

// Where the panel opens, as plain arithmetic on screen rectangles in global coordinates.

#include <optional>

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

// On compositors that anchor surfaces to output edges (layer shell), the panel is pinned to
// the top or bottom edge (the compositor keeps it off the bar's reserved zone) and placed along
// it by an offset from the left edge, or flush with the right edge when nothing tells where the
// item is.
struct EdgePlacement
{
    bool bottom = false;
    bool fromRight = false;
    int left = 0;   // from the output's left edge; unused when `fromRight`
    int margin = 0; // from the top or bottom edge, for bars the compositor does not keep it off
};

// Some hosts send the click relative to the item's own widget (a few pixels each way) rather
// than in output coordinates. A point in the output's top-left corner square of this size is
// taken for such a relative one: a status area rarely sits there.
inline constexpr int relativeClickLimit = 64;

// True when `click` can be a point in an output of `width` x `height`.
bool isOutputPoint(ScreenPoint click, int width, int height);

// The host's click as a point in an output of `width` x `height` logical pixels, or nothing: some
// hosts send it in device pixels on an output scaled by `scale`.
std::optional<ScreenPoint> outputPoint(ScreenPoint click, int width, int height, int scale);

// The rows of an output that bars leave free, and how far the panel must be set off its edge by
// hand. The layer shell keeps a panel clear only of bars that are layer surfaces themselves,
// leaving it `layerUsable` rows; a bar of another kind (Plasma's) shows only in the height a
// maximized window is given (`maximizedHeight`, 0 when unknown).
struct FreeRows
{
    int height = 0;
    int margin = 0;
};
FreeRows freeRows(int outputHeight, int layerUsable, int maximizedHeight);

// `click` is in output coordinates (or empty when unknown): the panel goes to the edge nearer
// to it, centred under it and clamped into the output; unknown: top edge, flush right.
EdgePlacement placeOnEdge(std::optional<ScreenPoint> click, int panelWidth, int outputWidth,
                          int outputHeight);

// The panel's rectangle in output coordinates once it is clear of the bars, which leave
// `usableHeight` of the output free; the bars are taken to sit on the edge the panel is
// anchored to.
ScreenRect edgePanelRect(const EdgePlacement& edge, int panelWidth, int panelHeight,
                         int outputWidth, int outputHeight, int usableHeight);

} // namespace corvel
