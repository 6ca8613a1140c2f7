// The paint gate and the stage-cover rule on the real toolkit: a gated
// actor vanishes from the screenshot exactly while its gate says so, and
// only an opaque, upright actor over every stage pixel counts as covering
// the stage.

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "app/PaintGate.h"
#include "app/Stage.h"

namespace {

constexpr ClutterColor Red = {255, 0, 0, 255};

class PaintGateTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(ensureUi()) << uiFailure();
        clutter_actor_show(stageActor());
        clutter_actor_set_size(stageActor(), 800, 600);
        runMainLoopUntil([] { return clutter_actor_get_width(stageActor()) == 800; }, 3000);
        mGroup = clutter_actor_new();
        clutter_actor_add_child(stageActor(), mGroup);
        mActor = clutter_actor_new();
        clutter_actor_set_background_color(mActor, &Red);
        clutter_actor_add_child(mGroup, mActor);
    }

    void TearDown() override
    {
        if (mGroup != nullptr) {
            clutter_actor_destroy(mGroup);
        }
    }

    ClutterActor* mGroup = nullptr;
    ClutterActor* mActor = nullptr;
};

TEST_F(PaintGateTest, AGatedActorIsPaintedExactlyWhileTheGateLetsItThrough)
{
    clutter_actor_set_position(mActor, 100, 100);
    clutter_actor_set_size(mActor, 200, 200);
    bool hidden = true;
    int asked = 0;
    addPaintGate(mActor, [&] {
        ++asked;
        return hidden;
    });
    int red = 0, green = 0, blue = 0;
    sScreenshot shot = takeScreenshot();
    shot.at(200, 200, red, green, blue);
    EXPECT_LT(red, 50) << "painted although the gate was shut";
    EXPECT_GT(asked, 0);

    hidden = false;
    shot = takeScreenshot();
    shot.at(200, 200, red, green, blue);
    EXPECT_GT(red, 200) << "not painted with the gate open";

    // Layout and picking are untouched: the actor keeps its place and is
    // found under the pointer while it is not painted.
    hidden = true;
    clutter_actor_set_reactive(mActor, TRUE);
    runMainLoopFor(50);
    EXPECT_EQ(clutter_stage_get_actor_at_pos(CLUTTER_STAGE(stageActor()), CLUTTER_PICK_REACTIVE, 200, 200), mActor);
}

TEST_F(PaintGateTest, OnlyAnOpaqueUprightActorOverTheWholeStageCoversIt)
{
    struct sCase {
        const char* what;
        float width, height;
        float turnX, turnZ, depth;
        guint8 opacity, groupOpacity;
        bool shown;
        bool covers;
    } cases[] = {
        {"exactly the stage", 800, 600, 0, 0, 0, 255, 255, true, true},
        {"larger, centred", 1280, 720, 0, 0, 0, 255, 255, true, true},
        {"larger, turned upright by half a turn", 1280, 720, 180, 0, 0, 255, 255, true, true},
        {"a pixel narrower", 799, 600, 0, 0, 0, 255, 255, true, false},
        {"a pixel lower", 800, 599, 0, 0, 0, 255, 255, true, false},
        {"not quite opaque", 1280, 720, 0, 0, 0, 254, 255, true, false},
        {"in a half-transparent group", 1280, 720, 0, 0, 0, 255, 128, true, false},
        {"turned in the plane", 1280, 720, 0, 10, 0, 255, 255, true, false},
        {"tilted in perspective", 1280, 720, 20, 0, 0, 255, 255, true, false},
        {"pushed back", 800, 600, 0, 0, -100, 255, 255, true, false},
        {"hidden", 1280, 720, 0, 0, 0, 255, 255, false, false},
    };
    for (const sCase& c : cases) {
        SCOPED_TRACE(c.what);
        // Centred on the stage about its own centre, as the player places
        // its video.
        clutter_actor_set_size(mActor, c.width, c.height);
        clutter_actor_set_anchor_point(mActor, c.width / 2, c.height / 2);
        clutter_actor_set_position(mActor, 400, 300);
        clutter_actor_set_rotation(mActor, CLUTTER_X_AXIS, c.turnX, 0, 0, 0);
        clutter_actor_set_rotation(mActor, CLUTTER_Z_AXIS, c.turnZ, 0, 0, 0);
        clutter_actor_set_z_position(mActor, c.depth);
        clutter_actor_set_opacity(mActor, c.opacity);
        clutter_actor_set_opacity(mGroup, c.groupOpacity);
        if (c.shown) {
            clutter_actor_show(mActor);
        } else {
            clutter_actor_hide(mActor);
        }
        runMainLoopFor(20);
        EXPECT_EQ(coversStage(mActor), c.covers);
    }
}

} // namespace
