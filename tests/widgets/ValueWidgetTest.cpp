// The slider and the volume knob on the real toolkit: clamping and the
// change slot, the handle's place and the knob's turn, presses, drags and
// their ends, the wheel guard, and a screenshot of every widget with its
// reflection. Events travel the toolkit's own path to the widget group.

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "WidgetTestSupport.h"
#include "app/Effects.h"
#include "app/Stage.h"
#include "tests/app/TestSupport.h"
#include "widgets/ListWidget.h"
#include "widgets/ScalerWidget.h"
#include "widgets/VolumeWidget.h"

namespace {

// The slider of the edge case: 256 pixels wide at x 272.
constexpr int SliderX = 272;
constexpr int SliderY = 300;
constexpr int SliderWidth = 256;
constexpr int SliderHeight = 20;
constexpr int KnobX = 100;
constexpr int KnobY = 380;
constexpr int KnobSide = 64;
constexpr float KnobCentreX = KnobX + KnobSide / 2;
constexpr float KnobCentreY = KnobY + KnobSide / 2;

void stageCentre(ClutterActor* actor, float& x, float& y)
{
    ClutterVertex vertices[4];
    clutter_actor_get_abs_allocation_vertices(actor, vertices);
    x = (vertices[0].x + vertices[3].x) / 2.0f;
    y = (vertices[0].y + vertices[3].y) / 2.0f;
}

enum eWidget { Slider, Knob };

class ValueWidgetTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(ensureUi()) << uiFailure();
        parkPointerOutsideStage();
        mScene = std::make_unique<cTestScene>(mSkin);
        mSlider = std::make_unique<cScalerWidget>(mScene.get(), stageActor(), SliderX, SliderY, SliderWidth,
                                                  SliderHeight);
        mSlider->setChangeSlot([this] { ++mChanges[Slider]; });
        mKnob = std::make_unique<cVolumeWidget>(mScene.get(), stageActor(), KnobX, KnobY, KnobSide, KnobSide);
        mKnob->setChangeSlot([this] { ++mChanges[Knob]; });
        mSlider->show();
        mKnob->show();
    }

    void TearDown() override
    {
        mSlider.reset();
        mKnob.reset();
        waitForEffects();
    }

    double value(eWidget widget) const { return widget == Slider ? mSlider->getValue() : mKnob->getValue(); }
    // The widget's group, as the toolkit's pick finds it.
    ClutterActor* group(eWidget widget) const
    {
        return widget == Slider ? actorAt(SliderX + 2, SliderY + 2) : actorAt(KnobX + 2, KnobY + 2);
    }
    // The slider's handle and the knob, the second and the first child.
    ClutterActor* handle() const { return clutter_actor_get_child_at_index(group(Slider), 1); }
    ClutterActor* knob() const { return clutter_actor_get_child_at_index(group(Knob), 0); }
    // Where the moving part stands: the handle's x, the knob's angle.
    double partPosition(eWidget widget) const
    {
        return widget == Slider ? clutter_actor_get_x(handle())
                                : clutter_actor_get_rotation_angle(knob(), CLUTTER_Z_AXIS);
    }

    bool pointer(ClutterEventType type, eWidget widget, float x, float y)
    {
        return deliver({type == CLUTTER_MOTION ? motionEvent(group(widget), x, y)
                                               : buttonEvent(type, group(widget), x, y)});
    }
    // Sets the value and forgets the slot calls that made.
    void startAt(eWidget widget, double start)
    {
        if (widget == Slider) {
            mSlider->setValue(static_cast<float>(start));
        } else {
            mKnob->setValue(static_cast<int>(start));
        }
        ASSERT_TRUE(waitForEffects());
        mChanges[widget] = 0;
    }

    cTestSkin mSkin;
    std::unique_ptr<cTestScene> mScene;
    std::unique_ptr<cScalerWidget> mSlider;
    std::unique_ptr<cVolumeWidget> mKnob;
    int mChanges[2] = {0, 0};
};

TEST_F(ValueWidgetTest, SetValueClampsMovesThePartAndAlwaysCallsTheSlot)
{
    struct {
        const char* name;
        eWidget widget;
        double start;
        std::function<void(cScalerWidget&, cVolumeWidget&)> act;
        double value;
        double position; // handle x or knob angle
    } const cases[] = {
        {"slider 7", Slider, 0, [](cScalerWidget& s, cVolumeWidget&) { s.setValue(7.0f); }, 5.0, SliderWidth},
        {"slider -1", Slider, 3, [](cScalerWidget& s, cVolumeWidget&) { s.setValue(-1.0f); }, 0.0, 0.0},
        {"slider 2.5", Slider, 0, [](cScalerWidget& s, cVolumeWidget&) { s.setValue(2.5f); }, 2.5, 128.0},
        {"slider increase", Slider, 1, [](cScalerWidget& s, cVolumeWidget&) { s.increase(); }, 1.5, 76.0},
        {"slider decrease at 0", Slider, 0, [](cScalerWidget& s, cVolumeWidget&) { s.decrease(); }, 0.0, 0.0},
        {"knob 250", Knob, 0, [](cScalerWidget&, cVolumeWidget& k) { k.setValue(250); }, 100.0, 300.0},
        {"knob increase at 100", Knob, 100, [](cScalerWidget&, cVolumeWidget& k) { k.increase(); }, 100.0, 300.0},
        {"knob same value", Knob, 35, [](cScalerWidget&, cVolumeWidget& k) { k.setValue(35); }, 35.0, 105.0},
        {"knob -20", Knob, 40, [](cScalerWidget&, cVolumeWidget& k) { k.setValue(-20); }, 0.0, 0.0},
        {"knob decrease", Knob, 40, [](cScalerWidget&, cVolumeWidget& k) { k.decrease(); }, 35.0, 105.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        startAt(c.widget, c.start);
        c.act(*mSlider, *mKnob);
        EXPECT_DOUBLE_EQ(value(c.widget), c.value);
        EXPECT_EQ(mChanges[c.widget], 1);
        ASSERT_TRUE(waitForEffects());
        EXPECT_NEAR(partPosition(c.widget), c.position, 0.01);
    }
}

TEST_F(ValueWidgetTest, SliderPressSetsTheValueUnderThePointer)
{
    const int reached = eventsReachingStage();
    ASSERT_TRUE(pointer(CLUTTER_BUTTON_PRESS, Slider, 400, SliderY + 10));
    EXPECT_FLOAT_EQ(mSlider->getValue(), 2.5f);
    EXPECT_EQ(mChanges[Slider], 1);
    ASSERT_TRUE(waitForEffects());
    EXPECT_FLOAT_EQ(clutter_actor_get_x(handle()), 128.0f);
    float x = 0.0f;
    float y = 0.0f;
    stageCentre(handle(), x, y);
    EXPECT_NEAR(x, 400.0f, 0.5f); // the handle's centre is under the pointer
    EXPECT_NEAR(y, SliderY + SliderHeight / 2, 0.5f);
    EXPECT_EQ(eventsReachingStage(), reached); // consumed
}

TEST_F(ValueWidgetTest, KnobPressesMapTheDirectionFromItsCentre)
{
    struct {
        const char* name;
        float x, y;
        int value;
        bool consumed;
    } const cases[] = {
        {"below: the dead zone", KnobCentreX, KnobCentreY + 20, 35, false},
        {"above", KnobCentreX, KnobCentreY - 20, 50, true},
        {"left", KnobCentreX - 20, KnobCentreY, 20, true},
        {"right", KnobCentreX + 20, KnobCentreY, 80, true},
        {"lower left", KnobCentreX - 20, KnobCentreY + 20, 5, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        startAt(Knob, 35);
        const int reached = eventsReachingStage();
        ASSERT_TRUE(pointer(CLUTTER_BUTTON_PRESS, Knob, c.x, c.y));
        EXPECT_EQ(mKnob->getValue(), c.value);
        EXPECT_EQ(mChanges[Knob], c.consumed ? 1 : 0);
        EXPECT_EQ(eventsReachingStage(), reached + (c.consumed ? 0 : 1));
        // A press in the dead zone starts no drag: moving on changes nothing.
        ASSERT_TRUE(pointer(CLUTTER_MOTION, Knob, KnobCentreX, KnobCentreY - 20));
        EXPECT_EQ(mKnob->getValue(), c.consumed ? 50 : 35);
        ASSERT_TRUE(pointer(CLUTTER_BUTTON_RELEASE, Knob, c.x, c.y));
    }
}

TEST_F(ValueWidgetTest, MotionWithoutAButtonChangesNothing)
{
    for (eWidget widget : {Slider, Knob}) {
        SCOPED_TRACE(widget == Slider ? "slider" : "knob");
        const int reached = eventsReachingStage();
        const float x = widget == Slider ? 400.0f : KnobCentreX;
        const float y = widget == Slider ? SliderY + 10.0f : KnobCentreY - 20.0f;
        ASSERT_TRUE(pointer(CLUTTER_MOTION, widget, x, y));
        EXPECT_DOUBLE_EQ(value(widget), 0.0);
        EXPECT_EQ(mChanges[widget], 0);
        EXPECT_EQ(eventsReachingStage(), reached); // taken all the same
    }
}

TEST_F(ValueWidgetTest, DragFollowsThePointerAndEndsOnReleaseOrLeave)
{
    struct sPoint {
        float x, y;
    };
    struct {
        eWidget widget;
        sPoint press;
        double pressed;
        sPoint drag;
        double dragged;
        sPoint after; // where a motion after the end changes nothing
    } const cases[] = {
        {Slider, {300, 310}, 0.546875, {400, 310}, 2.5, {500, 310}},
        {Knob, {KnobCentreX, KnobCentreY - 20}, 50, {KnobCentreX + 20, KnobCentreY}, 80,
         {KnobCentreX - 20, KnobCentreY}},
    };
    for (const auto& c : cases) {
        for (ClutterEventType end : {CLUTTER_BUTTON_RELEASE, CLUTTER_LEAVE, CLUTTER_ENTER}) {
            SCOPED_TRACE(testing::Message() << (c.widget == Slider ? "slider" : "knob") << " ended by " << end);
            startAt(c.widget, 0);
            ASSERT_TRUE(pointer(CLUTTER_BUTTON_PRESS, c.widget, c.press.x, c.press.y));
            EXPECT_DOUBLE_EQ(value(c.widget), c.pressed);
            ASSERT_TRUE(pointer(CLUTTER_MOTION, c.widget, c.drag.x, c.drag.y));
            EXPECT_DOUBLE_EQ(value(c.widget), c.dragged);
            EXPECT_EQ(mChanges[c.widget], 2);

            const int reached = eventsReachingStage();
            if (end == CLUTTER_BUTTON_RELEASE) {
                ASSERT_TRUE(pointer(end, c.widget, c.drag.x, c.drag.y));
                EXPECT_EQ(eventsReachingStage(), reached + 1); // not consumed
            } else {
                ASSERT_TRUE(deliver({crossingEvent(end, group(c.widget))}));
                EXPECT_EQ(eventsReachingStage(), reached); // consumed
            }
            ASSERT_TRUE(pointer(CLUTTER_MOTION, c.widget, c.after.x, c.after.y));
            EXPECT_DOUBLE_EQ(value(c.widget), c.dragged);
            EXPECT_EQ(mChanges[c.widget], 2);
        }
    }
}

TEST_F(ValueWidgetTest, WheelStepsArrivingDuringTheChangeAreDropped)
{
    struct {
        eWidget widget;
        double step;
    } const cases[] = {{Slider, 0.5}, {Knob, 5}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.widget == Slider ? "slider" : "knob");
        startAt(c.widget, 0);
        const int reached = eventsReachingStage();
        // Two notches handled in the same frame: the second meets the
        // running one-frame change.
        ASSERT_TRUE(deliver({scrollEvent(group(c.widget), CLUTTER_SCROLL_UP),
                             scrollEvent(group(c.widget), CLUTTER_SCROLL_UP)}));
        EXPECT_DOUBLE_EQ(value(c.widget), c.step);
        ASSERT_TRUE(waitForEffects());
        ASSERT_TRUE(deliver({scrollEvent(group(c.widget), CLUTTER_SCROLL_UP)}));
        EXPECT_DOUBLE_EQ(value(c.widget), 2 * c.step);
        ASSERT_TRUE(waitForEffects());
        ASSERT_TRUE(deliver({scrollEvent(group(c.widget), CLUTTER_SCROLL_DOWN)}));
        EXPECT_DOUBLE_EQ(value(c.widget), c.step);
        ASSERT_TRUE(waitForEffects());
        ASSERT_TRUE(deliver({scrollEvent(group(c.widget), CLUTTER_SCROLL_SMOOTH)}));
        EXPECT_DOUBLE_EQ(value(c.widget), c.step);
        EXPECT_EQ(mChanges[c.widget], 3);
        EXPECT_EQ(eventsReachingStage(), reached + 5); // never consumed
    }
}

TEST_F(ValueWidgetTest, KnobTurnsAboutItsCentre)
{
    mKnob->setValue(250);
    ASSERT_TRUE(waitForEffects());
    EXPECT_NEAR(clutter_actor_get_rotation_angle(knob(), CLUTTER_Z_AXIS), 300.0, 0.01);
    float x = 0.0f;
    float y = 0.0f;
    stageCentre(knob(), x, y);
    EXPECT_NEAR(x, KnobCentreX, 0.5f);
    EXPECT_NEAR(y, KnobCentreY, 0.5f);
}

TEST_F(ValueWidgetTest, HideShowMoveAndDestroy)
{
    const int before = clutter_actor_get_n_children(stageActor());
    mSlider->hide();
    EXPECT_EQ(actorAt(SliderX + 2, SliderY + 2), actorAt(SliderX - 2, SliderY - 2)); // nothing picked there
    mSlider->show();
    mSlider->setPosition(SliderX, SliderY + 40);
    EXPECT_FLOAT_EQ(clutter_actor_get_y(actorAt(SliderX + 2, SliderY + 42)), SliderY + 40);
    mSlider.reset();
    mKnob.reset();
    EXPECT_EQ(clutter_actor_get_n_children(stageActor()), before - 2);
}

// One screenshot per widget, checked for its own colour and for the
// mirrored band 5 pixels below it, which fades out further down.
TEST(WidgetScreenshot, EachWidgetShowsItsReflectionBelowIt)
{
    ASSERT_TRUE(ensureUi()) << uiFailure();
    parkPointerOutsideStage();
    cTestSkin skin;
    cTestScene scene(skin);
    struct {
        const char* name;
        std::function<std::shared_ptr<void>()> make;
        int bodyX, bodyY;   // a point on the widget
        int bottom;         // the widget's bottom edge
        const char* colourOf; // the skin image seen at the body point and in the band
    } const cases[] = {
        {"list", [&] { return std::shared_ptr<void>(std::make_shared<cListWidget>(&scene, 100, 50, 200, 200)); },
         200, 150, 250, "list-bg.png"},
        {"slider",
         [&] {
             return std::shared_ptr<void>(std::make_shared<cScalerWidget>(&scene, stageActor(), 100, 50, 200, 40));
         },
         200, 70, 90, "scaler-bg.png"},
        {"knob",
         [&] {
             return std::shared_ptr<void>(std::make_shared<cVolumeWidget>(&scene, stageActor(), 100, 50, 100, 100));
         },
         150, 100, 150, "volume-button.png"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::shared_ptr<void> widget = c.make();
        ASSERT_TRUE(waitForEffects());
        const sScreenshot shot = takeScreenshot();
        ASSERT_GT(shot.width, 0);
        const sSkinImage& image = testSkinImage(c.colourOf);
        const auto matches = [&](int x, int y, int minimum) {
            int red = 0;
            int green = 0;
            int blue = 0;
            shot.at(x, y, red, green, blue);
            // Each channel in proportion to the image's: strong where it is
            // 255, dark where it is 0.
            const int channels[3][2] = {{red, image.red}, {green, image.green}, {blue, image.blue}};
            for (const auto& [seen, own] : channels) {
                if ((own == 255 && seen < minimum) || (own == 0 && seen > 16)) {
                    ADD_FAILURE() << "at " << x << "," << y << ": " << red << " " << green << " " << blue;
                    return false;
                }
            }
            return true;
        };
        EXPECT_TRUE(matches(c.bodyX, c.bodyY, 100));
        // The band starts 5 pixels below the widget and carries opacity 64.
        EXPECT_TRUE(matches(c.bodyX, c.bottom + 5 + 8, 24));
        int red = 0;
        int green = 0;
        int blue = 0;
        shot.at(c.bodyX, c.bottom + 4, red, green, blue); // the gap
        EXPECT_LT(red + green + blue, 16);
        shot.at(c.bodyX, c.bottom + 5 + 40, red, green, blue); // beyond the 30-pixel band
        EXPECT_LT(red + green + blue, 16);
        if (::testing::Test::HasFailure()) {
            shot.writePpm(std::string("/tmp/lumivex-widgets-") + c.name + ".ppm");
        }
    }
}

} // namespace
