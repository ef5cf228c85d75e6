#include <gtest/gtest.h>

#include "app/progress_math.h"

using namespace progress_math;

TEST(ProgressPercent, FollowsPhasesAndItemsAndNeverDividesByZero) {
    struct Case {
        DWORD count, done, items, itemsDone, percent;
        long width;
    } cases[] = {
        {3, 0, 1, 0, 0, 1},         // fresh start: bar at 1 pixel
        {3, 1, 1, 0, 33, 102},      // after the check
        {3, 2, 211, 0, 66, 204},    // after the cache clean-up
        {3, 3, 1, 0, 100, 310},     // after the install
        {3, 1, 210, 105, 50, 155},  // halfway through the removal
        {3, 0, 0, 0, 0, 1},         // an item count of 0 counts as no item progress
        {3, 0, 0, 5, 0, 1},
        {0, 0, 1, 0, 0, 1},         // no phases at all
        {3, 3, 1, 1, 100, 310},     // never beyond a full bar
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.count << "/" << c.done << "/" << c.items << "/" << c.itemsDone);
        DWORD percent = ComputePercent(c.count, c.done, c.items, c.itemsDone);
        EXPECT_EQ(percent, c.percent);
        EXPECT_EQ(BarWidth(percent), c.width);
    }
}

TEST(ProgressPercent, BarWidthTruncatesAndKeepsOnePixel) {
    EXPECT_EQ(BarWidth(0), 1);
    EXPECT_EQ(BarWidth(1), 3);   // 310 / 100 = 3.1
    EXPECT_EQ(BarWidth(99), 306);
    EXPECT_EQ(BarWidth(100), 310);
}

TEST(DialogPlacement, UsesOnlyTheWorkAreasSize) {
    struct Case {
        RECT area;
        POINT origin;
    } cases[] = {
        {{0, 0, 1024, 738}, {262, 252}},
        {{60, 0, 1024, 768}, {232, 267}},   // task bar on the left: its width is not added
        {{0, 40, 1024, 768}, {262, 247}},   // task bar at the top
        {{0, 0, 499, 232}, {0, 0}},         // smaller than the window: halves round toward zero
        {{0, 0, 497, 230}, {-1, -1}},
    };
    for (const auto& c : cases) {
        POINT p = CenteredOrigin(c.area);
        EXPECT_EQ(p.x, c.origin.x);
        EXPECT_EQ(p.y, c.origin.y);
    }
}

TEST(DragStep, MovesWindowWithTheCursorAlsoLeftOfAndAboveIt) {
    // The drag began 30,12 into the window at 200,100; the cursor message is in client coordinates.
    POINT offset{30, 12}, window{200, 100};
    POINT same = DragTarget(POINT{30, 12}, window, offset);
    EXPECT_EQ(same.x, 200);
    EXPECT_EQ(same.y, 100);
    POINT moved = DragTarget(POINT{70, 37}, window, offset);
    EXPECT_EQ(moved.x, 240);
    EXPECT_EQ(moved.y, 125);
    // With the capture the cursor can be left of or above the window: negative coordinates.
    POINT lparam = PointFromLParam(MAKELPARAM(static_cast<WORD>(-20), static_cast<WORD>(-5)));
    EXPECT_EQ(lparam.x, -20);
    EXPECT_EQ(lparam.y, -5);
    POINT back = DragTarget(lparam, window, offset);
    EXPECT_EQ(back.x, 150);
    EXPECT_EQ(back.y, 83);
}
