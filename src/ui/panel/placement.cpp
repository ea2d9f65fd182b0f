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

ScreenPoint placePanel(const ScreenRect& anchor, int width, int height, const ScreenRect& available)
{
    const int top = available.y;
    const int bottom = available.y + available.height;

    const int x = anchor.x + anchor.width / 2 - width / 2;
    const int below = anchor.y + anchor.height;
    const int above = anchor.y - height;
    // Below when it fits; else above when that fits, or when above is the roomier side.
    const bool fitsBelow = below + height <= bottom;
    const bool takeAbove = !fitsBelow && (above >= top || bottom - below < anchor.y - top);
    const int y = takeAbove ? above : below;

    return {clampSpan(x, width, available.x, available.x + available.width),
            clampSpan(y, height, top, bottom)};
}

bool isOutputPoint(ScreenPoint click, int width, int height)
{
    const bool inside = click.x >= 0 && click.y >= 0 && click.x < width && click.y < height;
    const bool cornerSquare = click.x < relativeClickLimit && click.y < relativeClickLimit;
    return inside && !cornerSquare;
}

std::optional<ScreenPoint> outputPoint(ScreenPoint click, int width, int height, int scale)
{
    if (isOutputPoint(click, width, height))
        return click;
    const ScreenPoint logical{click.x / std::max(1, scale), click.y / std::max(1, scale)};
    if (scale > 1 && isOutputPoint(logical, width, height))
        return logical;
    return std::nullopt;
}

FreeRows freeRows(int outputHeight, int layerUsable, int maximizedHeight)
{
    if (layerUsable > 0 && layerUsable < outputHeight)
        return {layerUsable, 0}; // the compositor keeps the panel off these bars itself
    if (maximizedHeight > 0 && maximizedHeight < outputHeight)
        return {maximizedHeight, outputHeight - maximizedHeight};
    return {outputHeight, 0};
}

EdgePlacement placeOnEdge(std::optional<ScreenPoint> click, int panelWidth, int outputWidth,
                          int outputHeight)
{
    if (!click)
        return {.bottom = false, .fromRight = true};
    return {.bottom = click->y >= outputHeight / 2,
            .fromRight = false,
            .left = clampSpan(click->x - panelWidth / 2, panelWidth, 0, outputWidth)};
}

ScreenRect edgePanelRect(const EdgePlacement& edge, int panelWidth, int panelHeight,
                         int outputWidth, int outputHeight, int usableHeight)
{
    const int reserved = std::max(0, outputHeight - usableHeight);
    return {.x = edge.fromRight ? outputWidth - panelWidth : edge.left,
            .y = edge.bottom ? outputHeight - reserved - panelHeight : reserved,
            .width = panelWidth,
            .height = panelHeight};
}

} // namespace corvel
