// The one wheel rule of the interface: a step up is up, every other step
// down, and the smooth-scroll twin that X11 sends with each notch nothing;
// the home carousel follows it like the widgets do.

#include <gtest/gtest.h>

#include "SceneDriver.h"
#include "app/Scene.h"
#include "app/Stage.h"
#include "app/Wheel.h"
#include "scenes/IdleScene.h"
#include "scenes/Scenes.h"

namespace {

// A smooth-scroll event with the deltas, put on the stage's event queue.
void smoothScrollAt(float x, float y, double dx, double dy)
{
    ClutterEvent* event = clutter_event_new(CLUTTER_SCROLL);
    clutter_event_set_coords(event, x, y);
    clutter_event_set_scroll_direction(event, CLUTTER_SCROLL_SMOOTH);
    clutter_event_set_scroll_delta(event, dx, dy);
    clutter_event_set_stage(event, stage());
    clutter_event_set_time(event, CLUTTER_CURRENT_TIME);
    clutter_event_put(event);
    clutter_event_free(event);
}

} // namespace

TEST(Wheel, StepsCountAndSmoothTwinsDoNot)
{
    struct sCase {
        ClutterScrollDirection direction;
        eWheelStep step;
    };
    const sCase cases[] = {
        {CLUTTER_SCROLL_UP, eWheelStep::Up},       {CLUTTER_SCROLL_DOWN, eWheelStep::Down},
        {CLUTTER_SCROLL_LEFT, eWheelStep::Down},   {CLUTTER_SCROLL_RIGHT, eWheelStep::Down},
        {CLUTTER_SCROLL_SMOOTH, eWheelStep::None},
    };
    for (const sCase& c : cases) {
        ClutterEvent* event = clutter_event_new(CLUTTER_SCROLL);
        clutter_event_set_scroll_direction(event, c.direction);
        EXPECT_EQ(wheelStep(event), c.step) << c.direction;
        clutter_event_free(event);
    }
}

TEST(Wheel, TheHomeCarouselIgnoresSmoothScrolling)
{
    ASSERT_TRUE(ensureUi()) << uiFailure();
    parkPointer();
    installScenes();
    setCurrentPlayerDestroyer({});
    closeCurrentScene();
    waitForEffectsToEnd();
    resetRememberedIdleFocus();
    cUserData data;
    requestHomeScene();
    runMainLoopUntil([] { return dynamic_cast<cIdleScene*>(currentScene) != nullptr; }, 3000);
    auto* home = dynamic_cast<cIdleScene*>(currentScene);
    ASSERT_NE(home, nullptr);
    waitForEffectsToEnd();

    // Deltas either way, as a touchpad or the twin of a notch sends them.
    for (double dy : {-1.0, 1.0, -10.0}) {
        smoothScrollAt(400, 300, 0.0, dy);
        settle();
        EXPECT_FALSE(home->isCarouselTurning()) << dy;
        EXPECT_EQ(home->focus(), 5) << dy;
    }
    // A step still turns it.
    scrollAt(400, 300, CLUTTER_SCROLL_UP);
    settle();
    waitForEffectsToEnd();
    EXPECT_EQ(home->focus(), 6);

    closeCurrentScene();
    waitForEffectsToEnd();
    resetRememberedIdleFocus();
}
