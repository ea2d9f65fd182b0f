#include "placement.h"

#include <array>
#include <gtest/gtest.h>

namespace {

using namespace corvel;

// A 380 x 460 panel on 1920 x 1080 screens, some with a bar taken out of the available area.
TEST(Placement, OnX11TheAnchorAndTheAvailableAreaDecide)
{
    const struct
    {
        const char* what;
        ScreenRect anchor, available;
        ScreenPoint expected;
    } cases[] = {
        {"top bar: centred below the item", {1000, 0, 24, 28}, {0, 28, 1920, 1052}, {822, 28}},
        {"bottom bar: above the item", {1000, 1052, 24, 28}, {0, 0, 1920, 1052}, {822, 592}},
        {"right end: clamped left", {1900, 0, 20, 28}, {0, 28, 1920, 1052}, {1540, 28}},
        {"left end: clamped right", {0, 1052, 22, 28}, {0, 0, 1920, 1052}, {0, 592}},
        {"left bar: clamped down", {0, 10, 28, 28}, {28, 0, 1892, 1080}, {28, 38}},
        {"second screen", {2900, 1060, 20, 20}, {1920, 0, 1920, 1060}, {2720, 600}},
        {"no room: roomier side", {500, 400, 1, 1}, {0, 0, 1920, 700}, {310, 0}},
        {"larger than the area: corner inside", {100, 100, 1, 1}, {50, 40, 300, 400}, {50, 40}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const ScreenPoint at = placePanel(c.anchor, 380, 460, c.available);
        EXPECT_EQ(at.x, c.expected.x);
        EXPECT_EQ(at.y, c.expected.y);
    }
}

// The same panel on a 1280 x 800 output whose bars leave 774 rows free.
TEST(Placement, OnLayerShellTheClickPicksTheEdgeAndTheOffset)
{
    const struct
    {
        const char* what;
        std::optional<ScreenPoint> click;
        bool bottom, fromRight;
        ScreenRect expected;
    } cases[] = {
        {"unknown: top, flush right", std::nullopt, false, true, {900, 26, 380, 460}},
        {"top bar, mid: centred", ScreenPoint{640, 12}, false, false, {450, 26, 380, 460}},
        {"top bar, right end: clamped", ScreenPoint{1270, 12}, false, false, {900, 26, 380, 460}},
        {"bottom bar, left end: clamped", ScreenPoint{5, 787}, true, false, {0, 314, 380, 460}},
        {"just below the middle: bottom", ScreenPoint{640, 400}, true, false, {450, 314, 380, 460}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const EdgePlacement edge = placeOnEdge(c.click, 380, 1280, 800);
        EXPECT_EQ(edge.bottom, c.bottom);
        EXPECT_EQ(edge.fromRight, c.fromRight);
        const ScreenRect r = edgePanelRect(edge, 380, 460, 1280, 800, 774);
        EXPECT_EQ((std::array{r.x, r.y, r.width, r.height}),
                  (std::array{c.expected.x, c.expected.y, c.expected.width, c.expected.height}));
    }
}

TEST(Placement, ClickPointsRelativeToTheItemAreNotOutputPoints)
{
    EXPECT_TRUE(isOutputPoint({1188, 12}, 1280, 800)); // a top bar's item
    EXPECT_TRUE(isOutputPoint({12, 787}, 1280, 800));  // a bottom bar's left end
    EXPECT_TRUE(isOutputPoint({relativeClickLimit, 0}, 1280, 800));
    EXPECT_FALSE(isOutputPoint({10, 12}, 1280, 800));   // inside the item's own widget
    EXPECT_FALSE(isOutputPoint({1280, 12}, 1280, 800)); // past the right edge
    EXPECT_FALSE(isOutputPoint({100, -1}, 1280, 800));
}

} // namespace
