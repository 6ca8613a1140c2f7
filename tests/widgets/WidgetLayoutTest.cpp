// The widgets' arithmetic without the toolkit: the list's layout table, the
// fit and stop rules and the arrows; the slider's handle and pointer
// mapping; the knob's angle and its pointer directions.

#include <gtest/gtest.h>

#include <vector>

#include "widgets/WidgetLayout.h"

namespace {

TEST(WidgetLayout, ListActorsStandWhereTheTableSays)
{
    // A list at (20, 40) of 200 x 300 with an up arrow of 40 x 12 and a
    // down arrow of 30 x 14.
    const sListLayout layout = listLayout(20, 40, 200, 300, 40, 12, 30, 14);
    EXPECT_EQ(layout.visibleHeight, 300 - (12 + 14 + 10));
    EXPECT_EQ(layout.backgroundX, 20);
    EXPECT_EQ(layout.backgroundY, 40);
    EXPECT_EQ(layout.reflectionX, 20);
    EXPECT_EQ(layout.reflectionY, 40 + 300 + 5);
    EXPECT_EQ(layout.clipX, 20);
    EXPECT_EQ(layout.clipY, 40 + 12 + 5);
    EXPECT_EQ(layout.upArrowX, 20 + (200 - 40) / 2);
    EXPECT_EQ(layout.upArrowY, 40);
    EXPECT_EQ(layout.downArrowX, 20 + (200 - 30) / 2);
    EXPECT_EQ(layout.downArrowY, 40 + 300 - 14);

    // Odd differences truncate.
    const sListLayout odd = listLayout(0, 0, 101, 100, 40, 10, 40, 10);
    EXPECT_EQ(odd.upArrowX, 30);
}

TEST(WidgetLayout, ListFitAndStartOffset)
{
    struct {
        int count, rowHeight, visibleHeight;
        bool fits;
        int offset;
    } const cases[] = {
        {0, -1, 100, true, 50},   // empty and never measured
        {3, 20, 100, true, 20},   // centred: (100 - 60) / 2
        {5, 20, 100, true, 0},    // exactly full
        {6, 20, 100, false, 0},   // one row too many: from the top
        {3, 21, 100, true, 18},   // (100 - 63) / 2 truncates
        {2, -1, 100, false, 0},   // rows never measured: unsigned, never fit
        {1, 20, -5, true, 0},     // no room at all compares unsigned
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.count << " rows of " << c.rowHeight << " in " << c.visibleHeight);
        EXPECT_EQ(listRowsFit(c.count, c.rowHeight, c.visibleHeight), c.fits);
        if (c.visibleHeight >= 0) {
            EXPECT_EQ(listStartOffset(c.count, c.rowHeight, c.visibleHeight), c.offset);
        }
    }
}

TEST(WidgetLayout, ListStopsScrollingWhenTheRestNoLongerFillsAllButOneRow)
{
    // 20 rows of 22 in a window of 187 (8 fit): the rest from row t fills
    // at least 187 - 22 = 165 while (20 - t) x 22 >= 165, up to t = 12.
    const std::vector<int> pitches(20, 22);
    EXPECT_TRUE(listRowsFillFrom(pitches, 0, 187, 22));
    EXPECT_TRUE(listRowsFillFrom(pitches, 12, 187, 22));
    EXPECT_FALSE(listRowsFillFrom(pitches, 13, 187, 22));
    EXPECT_FALSE(listRowsFillFrom(pitches, 20, 187, 22)); // past the end: nothing
    // Rows of their own heights are summed as they are.
    EXPECT_TRUE(listRowsFillFrom({10, 10, 50}, 1, 80, 20));
    EXPECT_FALSE(listRowsFillFrom({10, 10, 39}, 1, 70, 20));
}

TEST(WidgetLayout, ListArrowsShowWhereThereIsMoreToSee)
{
    struct {
        int count, top;
        uint8_t up, down;
    } const cases[] = {
        {3, 0, 0, 0},     // fits: both transparent
        {20, 0, 0, 255},  // at the top
        {20, 1, 255, 255},
        {20, 12, 255, 0}, // the last 8 rows fit
        {20, 11, 255, 255},
    };
    for (const auto& c : cases) {
        const sArrowOpacities opacities = listArrowOpacities(c.count, c.top, 22, 187);
        EXPECT_EQ(opacities.up, c.up) << c.count << " rows from " << c.top;
        EXPECT_EQ(opacities.down, c.down) << c.count << " rows from " << c.top;
    }
}

TEST(WidgetLayout, SliderHandleAndPointer)
{
    EXPECT_EQ(scalerHandleX(256, 0.0f), 0);
    EXPECT_EQ(scalerHandleX(256, 2.5f), 128);
    EXPECT_EQ(scalerHandleX(256, 5.0f), 256);
    EXPECT_EQ(scalerHandleX(100, 0.5f), 10);
    EXPECT_EQ(scalerHandleX(99, 0.5f), 9); // whole part
    EXPECT_FLOAT_EQ(scalerValueAt(400.0f, 272.0f, 256), 2.5f);
    EXPECT_FLOAT_EQ(scalerValueAt(272.0f, 272.0f, 256), 0.0f);
    EXPECT_FLOAT_EQ(scalerValueAt(600.0f, 272.0f, 256), 6.40625f); // setValue clamps
}

TEST(WidgetLayout, PointerDirectionsAndTheKnobValuesTheyMean)
{
    struct {
        double dx, dy;
        double angle;
        bool valid;
        int value;
    } const cases[] = {
        {0, -10, 270, true, 50},   // above
        {-10, 0, 180, true, 20},   // left
        {10, 0, 0, true, 80},      // right
        {0, 10, 90, false, 0},     // below: the dead zone
        {0, 0, 90, false, 0},      // the centre counts as below
        {10, 10, 45, true, 95},    // lower right
        {-10, 10, 135, true, 5},   // lower left
        {10, -10, 315, true, 65},  // upper right
        {-10, -10, 225, true, 35}, // upper left
        {10, 5.7, 29.6831, true, 89},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "dx " << c.dx << " dy " << c.dy);
        const double angle = pointerAngle(c.dx, c.dy);
        EXPECT_NEAR(angle, c.angle, 1e-3);
        int value = -1;
        EXPECT_EQ(volumeValueAt(angle, value), c.valid);
        if (c.valid) {
            EXPECT_EQ(value, c.value);
        }
    }
    int value = -1;
    // The dead zone's edges belong to it.
    EXPECT_FALSE(volumeValueAt(60.0, value));
    EXPECT_FALSE(volumeValueAt(120.0, value));
    ASSERT_TRUE(volumeValueAt(120.01, value));
    EXPECT_EQ(value, 0);
    ASSERT_TRUE(volumeValueAt(59.99, value));
    EXPECT_EQ(value, 99); // the pointer never reaches 100
    EXPECT_DOUBLE_EQ(volumeAngle(100), 300.0);
    EXPECT_DOUBLE_EQ(volumeAngle(35), 105.0);
}

} // namespace
