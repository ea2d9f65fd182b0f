#include "placement.h"

#include <array>
#include <gtest/gtest.h>

namespace {

using namespace corvel;

// On X11, a 380 x 460 panel on 1920 x 1080 screens, some with a bar taken out of the available
// area: below the item when there is room, else above, moved as little as needed to stay inside.
TEST(Placement, TheAnchorOrTheClickAndTheRoomDecide)
{
    const std::tuple<ScreenRect, ScreenRect, std::array<int, 2>> cases[] = {
        {{1000, 0, 24, 28}, {0, 28, 1920, 1052}, {822, 28}},        // top bar
        {{1000, 1052, 24, 28}, {0, 0, 1920, 1052}, {822, 592}},     // bottom bar
        {{1900, 0, 20, 28}, {0, 28, 1920, 1052}, {1540, 28}},       // right end
        {{0, 500, 22, 28}, {0, 0, 1920, 988}, {0, 528}},            // left end, just room below
        {{0, 10, 28, 28}, {28, 0, 1892, 1080}, {28, 38}},           // left bar
        {{2900, 1060, 20, 20}, {1920, 0, 1920, 1060}, {2720, 600}}, // second screen
        {{500, 400, 1, 1}, {0, 0, 1920, 700}, {310, 0}},            // no room: the roomier side
        {{100, 100, 1, 1}, {50, 40, 300, 400}, {50, 40}}};          // too large: corner inside
    for (const auto& [anchor, available, expected] : cases) {
        const ScreenPoint at = placePanel(anchor, 380, 460, available);
        EXPECT_EQ((std::array{at.x, at.y}), expected) << anchor.x << "," << anchor.y;
    }
    // Layer shell, a 1280 x 800 output with 774 rows free of bars: the click picks bottom or top,
    // from the right or not, x and y; clicks relative to the item are not output points.
    const std::pair<std::optional<ScreenPoint>, std::array<int, 4>> edges[] = {
        {std::nullopt, {0, 1, 900, 26}},           {ScreenPoint{640, 12}, {0, 0, 450, 26}},
        {ScreenPoint{1270, 12}, {0, 0, 900, 26}},  {ScreenPoint{5, 787}, {1, 0, 0, 314}},
        {ScreenPoint{640, 400}, {1, 0, 450, 314}},
    };
    for (const auto& [click, expected] : edges) {
        const EdgePlacement edge = placeOnEdge(click, 380, 1280, 800);
        const ScreenRect r = edgePanelRect(edge, 380, 460, 1280, 800, 774);
        EXPECT_EQ((std::array{int(edge.bottom), int(edge.fromRight), r.x, r.y}), expected)
            << click.value_or(ScreenPoint{-1, -1}).x;
        EXPECT_EQ(std::pair(r.width, r.height), std::pair(380, 460));
    }
    const std::pair<ScreenPoint, bool> points[] = {
        {{1188, 12}, true},  {{12, 787}, true},  {{relativeClickLimit, 0}, true}, {{10, 12}, false},
        {{1280, 12}, false}, {{100, -1}, false}, {{10, relativeClickLimit}, true}};
    for (const auto& [point, output] : points)
        EXPECT_EQ(isOutputPoint(point, 1280, 800), output) << point.x << "," << point.y;
    // At scale 2 some hosts send device pixels; a point that fits either way is taken as it is.
    const std::array<int, 4> scaled[] = {
        {2480, 1560, 1240, 780}, {1240, 780, 1240, 780}, {10, 12, -1, -1}, {3000, 20, -1, -1}};
    for (const auto& [x, y, expectedX, expectedY] : scaled) {
        const ScreenPoint at = outputPoint({x, y}, 1280, 800, 2).value_or(ScreenPoint{-1, -1});
        EXPECT_EQ((std::array{at.x, at.y}), (std::array{expectedX, expectedY})) << x;
    }
    // Rows free of bars on an 800-row output, from the layer shell and from a maximized window:
    // bars of the layer shell are kept clear by the compositor, others by a margin of our own.
    const std::pair<std::array<int, 2>, std::array<int, 2>> bars[] = {
        {{774, 0}, {774, 0}}, {{774, 730}, {774, 0}}, {{800, 756}, {756, 44}},
        {{800, 0}, {800, 0}}, {{800, 800}, {800, 0}}, {{0, 756}, {756, 44}}};
    for (const auto& [given, expected] : bars) {
        const FreeRows rows = freeRows(800, given[0], given[1]);
        EXPECT_EQ((std::array{rows.height, rows.margin}), expected) << given[0] << "," << given[1];
    }
}

} // namespace
