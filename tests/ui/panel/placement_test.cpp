#include "placement.h"

#include <gtest/gtest.h>

namespace {

using corvel::placePanel;
using corvel::ScreenPoint;
using corvel::ScreenRect;

struct Case
{
    const char* what;
    ScreenRect anchor;
    ScreenRect available;
    ScreenPoint expected;
};

// A 380 x 460 panel on screens of 1920 x 1080, some with a bar taken out of the available area.
TEST(Placement, KeepsThePanelInsideTheAvailableArea)
{
    const int w = 380, h = 460;
    const Case cases[] = {
        {"top bar: centred below the item", {1000, 0, 24, 28}, {0, 28, 1920, 1052}, {822, 28}},
        {"click point, room below", {500, 300, 1, 1}, {0, 0, 1920, 1080}, {310, 301}},
        {"bottom bar: above the item", {1000, 1052, 24, 28}, {0, 0, 1920, 1052}, {822, 592}},
        {"item at the right end: clamped left", {1900, 0, 20, 28}, {0, 28, 1920, 1052}, {1540, 28}},
        {"item at the left end: clamped right", {0, 1052, 22, 28}, {0, 0, 1920, 1052}, {0, 592}},
        {"left bar: beside, clamped down from the top",
         {0, 10, 28, 28},
         {28, 0, 1892, 1080},
         {28, 38}},
        {"second screen to the right", {2900, 1060, 20, 20}, {1920, 0, 1920, 1060}, {2720, 600}},
        {"no room either side: roomier side, clamped",
         {500, 400, 1, 1},
         {0, 0, 1920, 700},
         {310, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const ScreenPoint at = placePanel(c.anchor, w, h, c.available);
        EXPECT_EQ(at.x, c.expected.x);
        EXPECT_EQ(at.y, c.expected.y);
        EXPECT_GE(at.x, c.available.x);
        EXPECT_GE(at.y, c.available.y);
        EXPECT_LE(at.x + w, c.available.x + c.available.width);
        EXPECT_LE(at.y + h, c.available.y + c.available.height);
    }
}

TEST(Placement, PanelLargerThanTheAreaKeepsItsTopLeftCornerInside)
{
    const ScreenPoint at = placePanel({100, 100, 1, 1}, 380, 460, {50, 40, 300, 400});
    EXPECT_EQ(at.x, 50);
    EXPECT_EQ(at.y, 40);
}

} // namespace
