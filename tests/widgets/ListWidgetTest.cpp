// The list widget on the real toolkit: layout, centring, scrolling by the
// rule, the wheel guard, clicks on rows, arrows and bare area, hover,
// selection, saved states, hiding and non-ASCII rows. Events travel the
// toolkit's own path from the stage to the widget.

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "WidgetTestSupport.h"
#include "app/Effects.h"
#include "app/Stage.h"
#include "kestrel/Unicode.h"
#include "state/ListStates.h"
#include "state/Settings.h"
#include "tests/app/TestSupport.h"
#include "widgets/ListWidget.h"

namespace {

constexpr int ListX = 40;
constexpr int ListY = 30;
constexpr int ListWidth = 240;

std::string rowText(int index)
{
    char text[16];
    std::snprintf(text, sizeof(text), "Row %02d", index);
    return text;
}

std::vector<std::u16string> rowTexts(int count)
{
    std::vector<std::u16string> items;
    for (int index = 0; index < count; ++index) {
        items.push_back(kestrel::fromUtf8(rowText(index)));
    }
    return items;
}

// A label's height + 5, measured as the list measures its rows.
int measuredRowHeight()
{
    const ClutterColor white = {255, 255, 255, 255};
    ClutterActor* label = clutter_text_new_full("Monospace", "Row 00", &white);
    g_object_ref_sink(label);
    const int height = static_cast<int>(std::lround(clutter_actor_get_height(label))) + 5;
    clutter_actor_destroy(label);
    g_object_unref(label);
    return height;
}

// The centre of an actor on the stage, after every transformation.
void stageCentre(ClutterActor* actor, float& x, float& y)
{
    ClutterVertex vertices[4];
    clutter_actor_get_abs_allocation_vertices(actor, vertices);
    x = (vertices[0].x + vertices[3].x) / 2.0f;
    y = (vertices[0].y + vertices[3].y) / 2.0f;
}

float stageTop(ClutterActor* actor)
{
    float x = 0.0f;
    float y = 0.0f;
    clutter_actor_get_transformed_position(actor, &x, &y);
    return y;
}

class ListWidgetTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(ensureUi()) << uiFailure();
        parkPointerOutsideStage();
        cSettings::destroyInstance();
        mScene = std::make_unique<cTestScene>(mSkin);
        mRowHeight = measuredRowHeight();
        mUpHeight = testSkinImage("list-scroll-up.png").height;
        mDownHeight = testSkinImage("list-scroll-down.png").height;
    }

    void TearDown() override
    {
        mList.reset();
        waitForEffects();
        cSettings::destroyInstance();
    }

    // A list tall enough for `fitting` rows and half of one more, filled
    // with `rows` rows ("Row 00", ...), shown with its background and
    // arrows, at rest.
    cListWidget& makeList(int fitting, int rows)
    {
        mVisibleHeight = fitting * mRowHeight + mRowHeight / 2;
        const int height = mVisibleHeight + mUpHeight + mDownHeight + 10;
        mList = std::make_unique<cListWidget>(mScene.get(), ListX, ListY, ListWidth, height);
        mList->setClickSlot([this] {
            ++mClicks;
            mActiveInSlot = mList->getActive();
            mTextInSlot = mList->getActiveText();
        });
        mList->setItems(rowTexts(rows));
        mList->show(true, true);
        EXPECT_TRUE(waitForEffects());
        return *mList;
    }

    int clipTop() const { return ListY + mUpHeight + 5; }
    ClutterActor* row(int index) const { return findLabel(rowText(index).c_str()); }
    ClutterActor* rowGroup() const { return clutter_actor_get_parent(row(0)); }
    ClutterActor* clipGroup() const { return clutter_actor_get_parent(rowGroup()); }
    ClutterActor* selectionBar() const { return clutter_actor_get_first_child(rowGroup()); }
    // The arrows as the toolkit's pick finds them, transparent or not.
    ClutterActor* upArrow() const { return actorAt(ListX + ListWidth / 2, ListY + 2); }
    ClutterActor* downArrow() const
    {
        return actorAt(ListX + ListWidth / 2, ListY + mVisibleHeight + mUpHeight + mDownHeight + 10 - 2);
    }
    // The deepest top element from which the rest still fills all but one row.
    int lastTopElement(int rows) const
    {
        int top = 0;
        while ((rows - (top + 1)) * mRowHeight >= mVisibleHeight - mRowHeight) {
            ++top;
        }
        return top;
    }

    bool press(ClutterActor* source)
    {
        float x = 0.0f;
        float y = 0.0f;
        stageCentre(source, x, y);
        return deliver({buttonEvent(CLUTTER_BUTTON_PRESS, source, x, y)});
    }

    cTestSkin mSkin;
    std::unique_ptr<cTestScene> mScene;
    std::unique_ptr<cListWidget> mList;
    int mRowHeight = 0;
    int mUpHeight = 0;
    int mDownHeight = 0;
    int mVisibleHeight = 0;
    int mClicks = 0;
    int mActiveInSlot = -2;
    std::u16string mTextInSlot;
};

TEST_F(ListWidgetTest, ActorsStandWhereTheLayoutSays)
{
    const int before = clutter_actor_get_n_children(stageActor());
    cListWidget& list = makeList(8, 20);
    EXPECT_EQ(list.getVisibleHeight(), mVisibleHeight);
    EXPECT_EQ(list.getRowHeight(), mRowHeight);
    EXPECT_EQ(list.getCount(), 20);

    float x = 0.0f;
    float y = 0.0f;
    clutter_actor_get_transformed_position(clipGroup(), &x, &y);
    EXPECT_NEAR(x, ListX, 0.5);
    EXPECT_NEAR(y, clipTop(), 0.5);
    clutter_actor_get_transformed_position(upArrow(), &x, &y);
    EXPECT_NEAR(x, ListX + (ListWidth - testSkinImage("list-scroll-up.png").width) / 2, 0.5);
    EXPECT_NEAR(y, ListY, 0.5);
    // Two arrows, the down one below the rows' window, each from its image.
    ClutterActor* up = upArrow();
    ClutterActor* down = downArrow();
    ASSERT_NE(up, nullptr);
    ASSERT_NE(down, nullptr);
    ASSERT_NE(up, down);
    float upY = 0.0f;
    float downY = 0.0f;
    clutter_actor_get_transformed_position(up, &x, &upY);
    clutter_actor_get_transformed_position(down, &x, &downY);
    EXPECT_GE(downY - upY, mVisibleHeight);
    EXPECT_NEAR(clutter_actor_get_width(down), testSkinImage("list-scroll-down.png").width, 0.5);
    EXPECT_NEAR(clutter_actor_get_height(up), testSkinImage("list-scroll-up.png").height, 0.5);

    // Background, reflection, clip group and the two arrows, all removed
    // again with the widget.
    EXPECT_EQ(clutter_actor_get_n_children(stageActor()), before + 5);
    mList.reset();
    EXPECT_EQ(clutter_actor_get_n_children(stageActor()), before);
    EXPECT_EQ(findLabel("Row 00"), nullptr);
}

TEST_F(ListWidgetTest, ShortListIsCentredNeverScrollsAndKeepsItsArrowsTransparent)
{
    cListWidget& list = makeList(8, 3);
    const int firstTop = clipTop() + (mVisibleHeight - 3 * mRowHeight) / 2;
    for (int index = 0; index < 3; ++index) {
        EXPECT_NEAR(stageTop(row(index)), firstTop + index * mRowHeight, 1.0) << index;
    }

    list.scrollDown();
    ASSERT_TRUE(deliver({scrollEvent(row(0), CLUTTER_SCROLL_DOWN)}));
    ASSERT_TRUE(press(downArrow()));
    ASSERT_TRUE(waitForEffects());
    EXPECT_EQ(list.getTopElement(), 0);
    EXPECT_EQ(list.getScrollY(), 0);
    EXPECT_NEAR(stageTop(row(0)), firstTop, 1.0);
    EXPECT_EQ(clutter_actor_get_opacity(upArrow()), 0);
    EXPECT_EQ(clutter_actor_get_opacity(downArrow()), 0);
}

TEST_F(ListWidgetTest, LongListScrollsOneRowAtATimeAndStopsByTheRule)
{
    cListWidget& list = makeList(8, 20);
    EXPECT_EQ(clutter_actor_get_opacity(upArrow()), 0);
    EXPECT_EQ(clutter_actor_get_opacity(downArrow()), 255);

    list.scrollDown();
    EXPECT_EQ(list.getTopElement(), 1);
    EXPECT_EQ(list.getScrollY(), -mRowHeight);
    ASSERT_TRUE(waitForEffects());
    EXPECT_EQ(clutter_actor_get_opacity(upArrow()), 255);
    EXPECT_NEAR(stageTop(row(1)), clipTop(), 1.0);

    // Steps in quick succession add up from where the rows rest.
    const int last = lastTopElement(20);
    ASSERT_EQ(last, 12);
    for (int step = 0; step < 30; ++step) {
        list.scrollDown();
    }
    EXPECT_EQ(list.getTopElement(), last);
    EXPECT_EQ(list.getScrollY(), -last * mRowHeight);
    ASSERT_TRUE(waitForEffects());
    EXPECT_NEAR(stageTop(row(last)), clipTop(), 1.0);
    EXPECT_EQ(clutter_actor_get_opacity(upArrow()), 255);
    EXPECT_EQ(clutter_actor_get_opacity(downArrow()), 0);

    for (int step = 0; step < 30; ++step) {
        list.scrollUp();
    }
    EXPECT_EQ(list.getTopElement(), 0);
    EXPECT_EQ(list.getScrollY(), 0);
    ASSERT_TRUE(waitForEffects());
    EXPECT_NEAR(stageTop(row(0)), clipTop(), 1.0);
    EXPECT_EQ(clutter_actor_get_opacity(upArrow()), 0);
    EXPECT_EQ(clutter_actor_get_opacity(downArrow()), 255);
}

// Scrolling down stops at the deepest top element from which the rows
// below still fill the window less one row; a window that holds at most
// one row is filled by any row, so it scrolls down to the last.
TEST_F(ListWidgetTest, ScrollingDownStopsByTheRuleWhateverTheWindowsHeight)
{
    struct {
        int fitting; // whole rows the window holds (it holds half of one more)
        int rows;
        int last;    // the top element after scrolling down all the way
    } const cases[] = {
        {8, 20, 12},
        {2, 6, 4},
        {1, 5, 4},
        {0, 5, 4}, // a window shorter than one row
        {0, 1, 0}, // nothing below the only row
        {3, 3, 0}, // the rows fit: no scrolling
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.rows << " rows in a window of " << c.fitting << ".5 rows");
        cListWidget& list = makeList(c.fitting, c.rows);
        for (int step = 0; step < c.rows + 5; ++step) {
            list.scrollDown();
        }
        EXPECT_EQ(list.getTopElement(), c.last);
        EXPECT_EQ(list.getScrollY(), -c.last * mRowHeight);
        ASSERT_TRUE(waitForEffects());
    }
}

// The keyboard's steps move the choice and scroll the least that shows the
// chosen row whole: a row that stands partly below the window's bottom
// edge brings the next top row, one above the top edge becomes the top.
TEST_F(ListWidgetTest, KeyboardStepsKeepTheChosenRowWhollyInTheWindow)
{
    // Ten rows in a window of four and a half: the top row goes down to 6.
    cListWidget& list = makeList(4, 10);
    ASSERT_EQ(lastTopElement(10), 6);
    struct {
        int step;
        int chosen;
        int top; // the first visible row afterwards
    } const steps[] = {
        {1, 0, 0}, // nothing chosen yet: the first row
        {1, 1, 0},   {1, 2, 0},   {1, 3, 0},
        {1, 4, 1},   // the first row that the window shows only in part
        {1, 5, 2},   {3, 8, 5},   {1, 9, 6},
        {1, 9, 6},   // the last row: nothing further
        {-1, 8, 6},  {-2, 6, 6},  {-1, 5, 5},
        {-3, 2, 2},  {-1, 1, 1},  {-1, 0, 0},
        {-1, 0, 0},  // the first row: nothing further
    };
    int clicks = 0;
    for (const auto& s : steps) {
        SCOPED_TRACE(::testing::Message() << "step " << s.step << " to row " << s.chosen);
        list.moveSelection(s.step);
        EXPECT_EQ(list.getActive(), s.chosen);
        EXPECT_EQ(list.getTopElement(), s.top);
        EXPECT_EQ(list.getScrollY(), -s.top * mRowHeight);
        // Each step acts as a click on the row.
        EXPECT_EQ(mClicks, ++clicks);
        EXPECT_EQ(mActiveInSlot, s.chosen);
        ASSERT_TRUE(waitForEffects());
        const float top = stageTop(row(s.chosen));
        EXPECT_GE(top, clipTop() - 1.0f);
        EXPECT_LE(top + mRowHeight - 5, clipTop() + mVisibleHeight + 1.0f);
    }
}

TEST_F(ListWidgetTest, WheelStepsArrivingDuringTheScrollAreDropped)
{
    cListWidget& list = makeList(8, 20);
    const int reached = eventsReachingStage();

    // Two notches handled in the same frame: the second meets the running
    // one-frame scroll.
    ASSERT_TRUE(deliver({scrollEvent(row(0), CLUTTER_SCROLL_DOWN), scrollEvent(row(0), CLUTTER_SCROLL_DOWN)}));
    EXPECT_EQ(list.getTopElement(), 1);
    ASSERT_TRUE(waitForEffects());

    ASSERT_TRUE(deliver({scrollEvent(row(3), CLUTTER_SCROLL_DOWN)}));
    EXPECT_EQ(list.getTopElement(), 2);
    ASSERT_TRUE(waitForEffects());
    ASSERT_TRUE(deliver({scrollEvent(clipGroup(), CLUTTER_SCROLL_UP)}));
    EXPECT_EQ(list.getTopElement(), 1);
    ASSERT_TRUE(waitForEffects());
    // The smooth twin of a notch counts for nothing.
    ASSERT_TRUE(deliver({scrollEvent(row(3), CLUTTER_SCROLL_SMOOTH)}));
    EXPECT_EQ(list.getTopElement(), 1);
    EXPECT_EQ(list.getScrollY(), -mRowHeight);

    // The wheel is never consumed.
    EXPECT_EQ(eventsReachingStage(), reached + 5);
}

TEST_F(ListWidgetTest, ClickOnARowMovesTheBarThenCallsTheSlotOnce)
{
    cListWidget& list = makeList(8, 20);
    float x = 0.0f;
    float y = 0.0f;
    stageCentre(row(3), x, y);
    ASSERT_EQ(actorAt(x, y), row(3)); // the toolkit's pick finds the row there
    const int reached = eventsReachingStage();

    ASSERT_TRUE(deliver({buttonEvent(CLUTTER_BUTTON_PRESS, row(3), x, y)}));
    EXPECT_EQ(mClicks, 1);
    EXPECT_EQ(mActiveInSlot, 3); // the selection had moved when the slot ran
    EXPECT_EQ(mTextInSlot, u"Row 03");
    EXPECT_EQ(list.getActive(), 3);
    EXPECT_EQ(eventsReachingStage(), reached + 1); // not consumed

    // The release is nobody's business here.
    ASSERT_TRUE(deliver({buttonEvent(CLUTTER_BUTTON_RELEASE, row(3), x, y)}));
    EXPECT_EQ(mClicks, 1);

    ASSERT_TRUE(waitForEffects());
    EXPECT_TRUE(CLUTTER_ACTOR_IS_VISIBLE(selectionBar()));
    float barX = 0.0f;
    float barY = 0.0f;
    stageCentre(selectionBar(), barX, barY);
    EXPECT_NEAR(barX, ListX + ListWidth / 2, 1.0);
    EXPECT_NEAR(barY, y, 1.0);

    // A second click slides the bar on from there.
    ASSERT_TRUE(press(row(6)));
    EXPECT_EQ(mClicks, 2);
    EXPECT_EQ(list.getActive(), 6);
    ASSERT_TRUE(waitForEffects());
    stageCentre(row(6), x, y);
    stageCentre(selectionBar(), barX, barY);
    EXPECT_NEAR(barY, y, 1.0);
}

TEST_F(ListWidgetTest, ClickOnTheBareWindowDoesNothing)
{
    cListWidget& list = makeList(8, 3);
    // Above the centred rows there is only the window itself.
    ClutterActor* bare = actorAt(ListX + 2, clipTop() + 2);
    ASSERT_EQ(bare, clipGroup());
    const int reached = eventsReachingStage();

    ASSERT_TRUE(deliver({buttonEvent(CLUTTER_BUTTON_PRESS, bare, ListX + 2, clipTop() + 2),
                         crossingEvent(CLUTTER_ENTER, bare), crossingEvent(CLUTTER_LEAVE, bare)}));
    EXPECT_EQ(mClicks, 0);
    EXPECT_EQ(list.getActive(), -1);
    EXPECT_EQ(eventsReachingStage(), reached + 3); // none of them consumed
}

TEST_F(ListWidgetTest, ArrowClicksScrollAndAreConsumed)
{
    cListWidget& list = makeList(8, 20);
    const int reached = eventsReachingStage();
    ASSERT_TRUE(press(downArrow()));
    ASSERT_TRUE(waitForEffects());
    ASSERT_TRUE(press(downArrow()));
    EXPECT_EQ(list.getTopElement(), 2);
    ASSERT_TRUE(press(upArrow()));
    EXPECT_EQ(list.getTopElement(), 1);
    EXPECT_EQ(mClicks, 0);
    EXPECT_EQ(eventsReachingStage(), reached);
}

TEST_F(ListWidgetTest, HoverGrowsARowAboutItsCentreAndShrinksItBack)
{
    makeList(8, 20);
    float beforeX = 0.0f;
    float beforeY = 0.0f;
    stageCentre(row(2), beforeX, beforeY);
    const int reached = eventsReachingStage();

    ASSERT_TRUE(deliver({crossingEvent(CLUTTER_ENTER, row(2))}));
    ASSERT_TRUE(waitForEffects());
    double scaleX = 0.0;
    double scaleY = 0.0;
    clutter_actor_get_scale(row(2), &scaleX, &scaleY);
    EXPECT_DOUBLE_EQ(scaleX, 1.2);
    EXPECT_DOUBLE_EQ(scaleY, 1.2);
    float x = 0.0f;
    float y = 0.0f;
    stageCentre(row(2), x, y);
    EXPECT_NEAR(x, beforeX, 1.0);
    EXPECT_NEAR(y, beforeY, 1.0);

    ASSERT_TRUE(deliver({crossingEvent(CLUTTER_LEAVE, row(2))}));
    ASSERT_TRUE(waitForEffects());
    clutter_actor_get_scale(row(2), &scaleX, &scaleY);
    EXPECT_DOUBLE_EQ(scaleX, 1.0);
    EXPECT_DOUBLE_EQ(scaleY, 1.0);
    EXPECT_EQ(eventsReachingStage(), reached); // both consumed
}

TEST_F(ListWidgetTest, ShowAfterSetItemsLeavesNoRowSelected)
{
    cListWidget& list = makeList(8, 20);
    list.setActive(4);
    EXPECT_EQ(list.getActiveText(), u"Row 04");
    list.setItems(rowTexts(10));
    list.show(true, true);
    EXPECT_EQ(list.getActive(), -1);
    EXPECT_EQ(list.getActiveText(), u"");
    EXPECT_FALSE(CLUTTER_ACTOR_IS_VISIBLE(selectionBar()));

    // Outside the rows, -1 included, clears the selection as well.
    for (int index : {5, 10, -1, 99}) {
        list.setActive(5);
        list.setActive(index);
        EXPECT_EQ(list.getActive(), index == 5 ? 5 : -1) << index;
    }
}

TEST_F(ListWidgetTest, SavedStateComesBackWithTheSameRowAndOffset)
{
    cListWidget& list = makeList(8, 20);
    for (int step = 0; step < 3; ++step) {
        list.scrollDown();
    }
    ASSERT_TRUE(press(row(5)));
    saveListState(u"channelsList", list);
    const int offset = list.getScrollY();
    EXPECT_EQ(offset, -3 * mRowHeight);
    EXPECT_EQ(cSettings::instance()->getInteger(u"channelsList_active", -9), 5);
    EXPECT_EQ(cSettings::instance()->getInteger(u"channelsList_topElement", -9), 3);

    // A new scene builds a new list.
    mList.reset();
    ASSERT_TRUE(waitForEffects());
    cListWidget& again = makeList(8, 20);
    restoreListState(u"channelsList", again);
    EXPECT_EQ(again.getActive(), 5);
    EXPECT_EQ(again.getActiveText(), u"Row 05");
    EXPECT_EQ(again.getTopElement(), 3);
    EXPECT_EQ(again.getScrollY(), offset);
    ASSERT_TRUE(waitForEffects());
    EXPECT_NEAR(stageTop(row(3)), clipTop(), 1.0);
    EXPECT_EQ(clutter_actor_get_opacity(upArrow()), 255);
    float x = 0.0f;
    float rowY = 0.0f;
    float barY = 0.0f;
    stageCentre(row(5), x, rowY);
    stageCentre(selectionBar(), x, barY);
    EXPECT_NEAR(barY, rowY, 1.0);
}

TEST_F(ListWidgetTest, NoSavedKeysSelectTheFirstRowAtTheTop)
{
    cListWidget& list = makeList(8, 20);
    list.scrollDown();
    restoreListState(u"countryList", list);
    EXPECT_EQ(list.getActive(), 0);
    EXPECT_EQ(list.getActiveText(), u"Row 00");
    EXPECT_EQ(list.getTopElement(), 0);
    EXPECT_EQ(list.getScrollY(), 0);

    // So does a reset by the catalogue update.
    writeListState(u"typeList", sListState{7, 4, -4 * mRowHeight});
    resetBrowserListStates();
    restoreListState(u"typeList", list);
    EXPECT_EQ(list.getActive(), 0);
    EXPECT_EQ(list.getScrollY(), 0);
}

TEST_F(ListWidgetTest, StoredStateOutsideTheRowsIsTakenAsStoredAndStaysHarmless)
{
    cListWidget& list = makeList(8, 5);
    writeListState(u"channelsList", sListState{12, 9, -200});
    restoreListState(u"channelsList", list);
    EXPECT_EQ(list.getActive(), -1);
    EXPECT_EQ(list.getTopElement(), 9);
    EXPECT_EQ(list.getScrollY(), -200);
    // A list that fits does not scroll, whatever was stored.
    list.scrollDown();
    list.scrollUp();
    EXPECT_EQ(list.getScrollY(), -200);

    // A long list scrolls on from a top element beyond its rows without
    // reading past them.
    list.setItems(rowTexts(20));
    list.show(true, true);
    writeListState(u"channelsList", sListState{0, 40, 0});
    restoreListState(u"channelsList", list);
    list.scrollDown();
    EXPECT_EQ(list.getTopElement(), 40);
    list.scrollUp();
    EXPECT_EQ(list.getTopElement(), 39);
}

TEST_F(ListWidgetTest, HideFadesTheListButLeavesTheArrowsAlone)
{
    cListWidget& list = makeList(8, 20);
    list.scrollDown();
    ASSERT_TRUE(waitForEffects());
    ASSERT_EQ(clutter_actor_get_opacity(upArrow()), 255);
    ASSERT_EQ(clutter_actor_get_opacity(downArrow()), 255);

    list.hide();
    ASSERT_TRUE(waitForEffects());
    EXPECT_EQ(clutter_actor_get_opacity(clipGroup()), 0);
    EXPECT_FLOAT_EQ(clutter_actor_get_z_position(clipGroup()), 100.0f);
    EXPECT_EQ(clutter_actor_get_opacity(upArrow()), 255);
    EXPECT_EQ(clutter_actor_get_opacity(downArrow()), 255);

    // Shown again without its background, only the rows come back.
    list.show(false, false);
    ASSERT_TRUE(waitForEffects());
    EXPECT_EQ(clutter_actor_get_opacity(clipGroup()), 255);
    EXPECT_FLOAT_EQ(clutter_actor_get_z_position(clipGroup()), 0.0f);
    EXPECT_EQ(clutter_actor_get_opacity(upArrow()), 255); // not updated
}

// A list fading out with its scene: presses on its rows and arrows stop
// there and change nothing, until it is shown again.
TEST_F(ListWidgetTest, AHiddenListTakesPressesButActsOnNone)
{
    cListWidget& list = makeList(8, 20);
    ClutterActor* down = downArrow();
    list.hide();
    const int reachingBefore = eventsReachingStage();
    ASSERT_TRUE(press(row(2)));
    ASSERT_TRUE(press(down));
    EXPECT_EQ(eventsReachingStage(), reachingBefore);
    EXPECT_EQ(mClicks, 0);
    EXPECT_EQ(list.getActive(), -1);
    EXPECT_EQ(list.getTopElement(), 0);
    ASSERT_TRUE(waitForEffects());

    list.show(true, true);
    ASSERT_TRUE(waitForEffects());
    ASSERT_TRUE(press(row(2)));
    EXPECT_EQ(mClicks, 1);
    EXPECT_EQ(list.getActive(), 2);
}

TEST_F(ListWidgetTest, NonAsciiRowsRoundTripThroughTheActiveText)
{
    const std::vector<std::u16string> items = {
        u"Café crème", u"Ærøskøbing TV", u"東京テレビ", u"Ελληνική Τηλεόραση", u"\U0001F4FA Кино",
    };
    cListWidget& list = makeList(8, 1);
    list.setItems(items);
    list.show(true, true);
    for (int index = 0; index < static_cast<int>(items.size()); ++index) {
        ASSERT_NE(findLabel(kestrel::toUtf8(items[index]).c_str()), nullptr) << index;
        list.setActive(index);
        EXPECT_EQ(list.getActiveText(), items[index]) << index;
    }
}

// The labels in the row group, by their text.
std::vector<ClutterActor*> rowLabels(ClutterActor* group)
{
    std::vector<ClutterActor*> labels;
    for (ClutterActor* child = clutter_actor_get_first_child(group); child != nullptr;
         child = clutter_actor_get_next_sibling(child)) {
        if (CLUTTER_IS_TEXT(child)) {
            labels.push_back(child);
        }
    }
    return labels;
}

// A label's height + 5, measured on a label of its own.
int pitchOf(const std::string& text)
{
    const ClutterColor white = {255, 255, 255, 255};
    ClutterActor* label = clutter_text_new_full("Monospace", text.c_str(), &white);
    g_object_ref_sink(label);
    const int height = static_cast<int>(std::lround(clutter_actor_get_height(label))) + 5;
    clutter_actor_destroy(label);
    g_object_unref(label);
    return height;
}

TEST_F(ListWidgetTest, ALongListMakesLabelsOnlyNearItsWindowAndPlacesThemAsEveryRowWereThere)
{
    // Rows of every kind of height: printable ASCII, scripts from other
    // fonts, an empty name and one with a line break.
    const std::vector<std::string> kinds = {"Row plain", "東京テレビ", "", "Ελληνική", "two\nlines", "\U0001F4FA TV"};
    std::vector<std::string> texts;
    std::vector<std::u16string> items;
    for (int index = 0; index < 3000; ++index) {
        texts.push_back(kinds[index % kinds.size()] + " " + std::to_string(index));
        items.push_back(kestrel::fromUtf8(texts.back()));
    }
    cListWidget& list = makeList(8, 1);
    list.setItems(items);
    list.show(true, true);
    ASSERT_TRUE(waitForEffects());
    ClutterActor* first = findLabel(texts[0].c_str());
    ASSERT_NE(first, nullptr);
    ClutterActor* group = clutter_actor_get_parent(first);
    EXPECT_LT(rowLabels(group).size(), 100u);
    EXPECT_EQ(list.getCount(), 3000);
    EXPECT_EQ(list.getRowHeight(), pitchOf(texts.back()));

    // Where each row must stand: one under the other, each by its own
    // label's height.
    std::vector<int> tops = {0};
    for (const std::string& text : texts) {
        tops.push_back(tops.back() + pitchOf(text));
    }
    // Jump deep, as a restored state does, then step on by the wheel's
    // rule.
    list.setScrollY(-tops[2000]);
    list.scrollDown();
    ASSERT_TRUE(waitForEffects());
    int shown = 0;
    for (ClutterActor* label : rowLabels(group)) {
        if (!clutter_actor_is_visible(label)) {
            continue;
        }
        const std::string text = clutter_text_get_text(CLUTTER_TEXT(label));
        const int index = std::stoi(text.substr(text.rfind(' ') + 1));
        float anchorX = 0, anchorY = 0;
        clutter_actor_get_anchor_point(label, &anchorX, &anchorY);
        EXPECT_FLOAT_EQ(clutter_actor_get_y(label) - anchorY, tops[index]) << index;
        shown += index >= 2000 && index < 2005;
    }
    EXPECT_EQ(shown, 5);
    EXPECT_LT(rowLabels(group).size(), 200u);

    list.setActive(2003);
    EXPECT_EQ(list.getActiveText(), items[2003]);
    ASSERT_TRUE(press(findLabel(texts[2004].c_str())));
    EXPECT_EQ(list.getActive(), 2004);
    EXPECT_EQ(mTextInSlot, items[2004]);
}

TEST_F(ListWidgetTest, TheClickSlotMayDeleteTheList)
{
    makeList(8, 20);
    mList->setClickSlot([this] {
        ++mClicks;
        mList.reset();
    });
    ASSERT_TRUE(press(row(2)));
    EXPECT_EQ(mClicks, 1);
    EXPECT_EQ(mList, nullptr);
}

TEST(ListWidgetSkin, MissingImagesShowStandInsAndTheListStillWorks)
{
    ASSERT_TRUE(ensureUi()) << uiFailure();
    cTestSkin emptySkin(false);
    cTestScene scene(emptySkin);
    // The arrows' stand-ins are 32 x 16.
    cListWidget list(&scene, ListX, ListY, ListWidth, 300);
    EXPECT_EQ(list.getVisibleHeight(), 300 - (16 + 16 + 10));
    list.setItems(rowTexts(40));
    list.show(true, true);
    list.scrollDown();
    EXPECT_EQ(list.getTopElement(), 1);
    ASSERT_TRUE(deliver({buttonEvent(CLUTTER_BUTTON_PRESS, findLabel("Row 04"), 0, 0)}));
    EXPECT_EQ(list.getActive(), 4);
    waitForEffects();
}

} // namespace
