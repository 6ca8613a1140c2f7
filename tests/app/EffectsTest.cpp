// The animation layer on the real toolkit: alpha functions, effects
// reaching their targets in time with one completion each, rotations in
// both directions, cancelling, and frame-counted timelines.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

#include "TestSupport.h"
#include "app/Effects.h"
#include "app/Stage.h"

namespace {

class EffectsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(ensureUi()) << uiFailure();
        mActor = clutter_actor_new();
        clutter_actor_set_size(mActor, 50.0f, 50.0f);
        const ClutterColor grey = {128, 128, 128, 255};
        clutter_actor_set_background_color(mActor, &grey);
        clutter_actor_add_child(stageActor(), mActor);
    }

    void TearDown() override
    {
        if (mActor != nullptr) {
            stopEffects(mActor);
            clutter_actor_destroy(mActor);
        }
    }

    ClutterActor* mActor = nullptr;
};

TEST(AlphaTest, RampAndSmoothstepValues)
{
    struct {
        eAlpha alpha;
        double t;
        double expected;
    } cases[] = {
        {AlphaRampInc, 0.0, 0.0},         {AlphaRampInc, 0.25, 0.25},       {AlphaRampInc, 0.5, 0.5},
        {AlphaRampInc, 0.75, 0.75},       {AlphaRampInc, 1.0, 1.0},         {AlphaSmoothstepInc, 0.0, 0.0},
        {AlphaSmoothstepInc, 0.25, 0.15625}, {AlphaSmoothstepInc, 0.5, 0.5}, {AlphaSmoothstepInc, 0.75, 0.84375},
        {AlphaSmoothstepInc, 1.0, 1.0},   {AlphaRampInc, -0.5, 0.0},        {AlphaSmoothstepInc, 1.5, 1.0},
    };
    for (const auto& c : cases) {
        EXPECT_DOUBLE_EQ(alphaProgress(c.alpha, c.t), c.expected) << "alpha " << c.alpha << " at " << c.t;
    }
}

struct sEffectCase {
    const char* name;
    std::function<void(const cEffectTemplate&, ClutterActor*, tEffectDone)> start;
    std::function<bool(ClutterActor*)> atTarget;
};

TEST_F(EffectsTest, EachEffectReachesItsTargetInAboutItsDurationAndCompletesOnce)
{
    const sEffectCase cases[] = {
        {"fade", [](const cEffectTemplate& t, ClutterActor* a, tEffectDone d) { effectFade(t, a, 40, d); },
         [](ClutterActor* a) { return clutter_actor_get_opacity(a) == 40; }},
        {"move", [](const cEffectTemplate& t, ClutterActor* a, tEffectDone d) { effectMove(t, a, 200.0f, 100.0f, d); },
         [](ClutterActor* a) { return clutter_actor_get_x(a) == 200.0f && clutter_actor_get_y(a) == 100.0f; }},
        {"depth", [](const cEffectTemplate& t, ClutterActor* a, tEffectDone d) { effectDepth(t, a, -150.0f, d); },
         [](ClutterActor* a) { return clutter_actor_get_z_position(a) == -150.0f; }},
        {"scale",
         [](const cEffectTemplate& t, ClutterActor* a, tEffectDone d) { effectScale(t, a, 2.5, 0.5, d); },
         [](ClutterActor* a) {
             double x = 0.0;
             double y = 0.0;
             clutter_actor_get_scale(a, &x, &y);
             return x == 2.5 && y == 0.5;
         }},
        {"rotate",
         [](const cEffectTemplate& t, ClutterActor* a, tEffectDone d) {
             effectRotate(t, a, CLUTTER_Z_AXIS, 90.0, 25.0f, 25.0f, 0.0f, RotateClockwise, d);
         },
         [](ClutterActor* a) { return clutter_actor_get_rotation_angle(a, CLUTTER_Z_AXIS) == 90.0; }},
    };
    for (const sEffectCase& c : cases) {
        SCOPED_TRACE(c.name);
        int completions = 0;
        const double started = nowMilliseconds();
        double finished = 0.0;
        c.start(cEffectTemplate(300, AlphaRampInc), mActor, [&] {
            ++completions;
            finished = nowMilliseconds();
        });
        EXPECT_FALSE(c.atTarget(mActor));
        ASSERT_TRUE(runMainLoopUntil([&] { return completions > 0; }, 5000));
        EXPECT_TRUE(c.atTarget(mActor));
        EXPECT_GE(finished - started, 295.0);
        EXPECT_LE(finished - started, 1500.0); // a busy machine draws late, never early
        runMainLoopFor(150);
        EXPECT_EQ(completions, 1);
        EXPECT_TRUE(c.atTarget(mActor));
        EXPECT_EQ(runningEffectCount(), 0);
    }
}

// The value on screen follows the alpha. Each new value is written down
// with the time its frame was drawn; the time origin is taken from the
// moment the value passes the middle (both alphas are at one half at half
// time), so a late first frame does not matter.
TEST_F(EffectsTest, MovementFollowsTheAlphaOfTheTemplate)
{
    for (eAlpha alpha : {AlphaRampInc, AlphaSmoothstepInc}) {
        SCOPED_TRACE(alpha == AlphaRampInc ? "ramp" : "smoothstep");
        clutter_actor_set_position(mActor, 0.0f, 0.0f);
        bool done = false;
        std::vector<std::pair<double, double>> samples;
        auto record = +[](GObject* actor, GParamSpec*, gpointer data) {
            static_cast<std::vector<std::pair<double, double>>*>(data)->emplace_back(
                nowMilliseconds(), clutter_actor_get_x(CLUTTER_ACTOR(actor)));
        };
        const gulong handler = g_signal_connect(mActor, "notify::x", G_CALLBACK(record), &samples);
        effectMove(cEffectTemplate(1000, alpha), mActor, 1000.0f, 0.0f, [&] { done = true; });
        runMainLoopUntil([&] { return done; }, 5000);
        g_signal_handler_disconnect(mActor, handler);
        ASSERT_TRUE(done);
        ASSERT_GT(samples.size(), 10u);

        // The value at a time, read off the samples.
        auto valueAt = [&](double time) {
            for (size_t i = 1; i < samples.size(); ++i) {
                if (samples[i].first >= time) {
                    const auto& [t0, x0] = samples[i - 1];
                    const auto& [t1, x1] = samples[i];
                    return t1 > t0 ? x0 + (x1 - x0) * (time - t0) / (t1 - t0) : x1;
                }
            }
            return samples.back().second;
        };
        double half = 0.0;
        for (size_t i = 1; i < samples.size() && half == 0.0; ++i) {
            if (samples[i].second >= 500.0) {
                const auto& [t0, x0] = samples[i - 1];
                const auto& [t1, x1] = samples[i];
                half = x1 > x0 ? t0 + (t1 - t0) * (500.0 - x0) / (x1 - x0) : t1;
            }
        }
        const double origin = half - 500.0;
        for (double fraction : {0.25, 0.75}) {
            EXPECT_NEAR(valueAt(origin + 1000.0 * fraction), 1000.0 * alphaProgress(alpha, fraction), 40.0)
                << "at " << fraction;
        }
    }
}

TEST_F(EffectsTest, RotationDirectionsAndFullTurns)
{
    struct {
        const char* name;
        double start;
        double target;
        eRotateDirection direction;
        double lowestSeen;  // the sweep must reach below this ...
        double highestSeen; // ... and above this
        double finalAngle;
    } cases[] = {
        {"full clockwise turn", 0.0, 360.0, RotateClockwise, 1.0, 300.0, 0.0},
        {"clockwise across 360", 270.0, 90.0, RotateClockwise, 271.0, 400.0, 90.0},
        {"counter-clockwise down", 90.0, 0.0, RotateCounterClockwise, 10.0, 80.0, 0.0},
        {"counter-clockwise across 0", 0.0, 90.0, RotateCounterClockwise, -200.0, -1.0, 90.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        clutter_actor_set_rotation_angle(mActor, CLUTTER_Y_AXIS, c.start);
        bool done = false;
        double lowest = 1e9;
        double highest = -1e9;
        effectRotate(cEffectTemplate(400, AlphaRampInc), mActor, CLUTTER_Y_AXIS, c.target, 25.0f, 0.0f, 0.0f,
                     c.direction, [&] { done = true; });
        runMainLoopUntil(
            [&] {
                if (!done) {
                    const double angle = clutter_actor_get_rotation_angle(mActor, CLUTTER_Y_AXIS);
                    lowest = std::min(lowest, angle);
                    highest = std::max(highest, angle);
                }
                return done;
            },
            5000);
        ASSERT_TRUE(done);
        EXPECT_LT(lowest, c.lowestSeen);
        EXPECT_GT(highest, c.highestSeen);
        EXPECT_DOUBLE_EQ(clutter_actor_get_rotation_angle(mActor, CLUTTER_Y_AXIS), c.finalAngle);
        float x = -1.0f;
        float y = -1.0f;
        float z = -1.0f;
        clutter_actor_get_rotation(mActor, CLUTTER_Y_AXIS, &x, &y, &z);
        EXPECT_EQ(x, 25.0f);
        EXPECT_EQ(y, 0.0f);
    }
}

TEST_F(EffectsTest, ScaleKeepsTheCentreItIsGiven)
{
    bool done = false;
    effectScale(cEffectTemplate(100, AlphaSmoothstepInc), mActor, 1.5, 1.5, 10.0f, 20.0f, [&] { done = true; });
    ASSERT_TRUE(runMainLoopUntil([&] { return done; }, 3000));
    float x = 0.0f;
    float y = 0.0f;
    clutter_actor_get_scale_center(mActor, &x, &y);
    EXPECT_EQ(x, 10.0f);
    EXPECT_EQ(y, 20.0f);
}

TEST_F(EffectsTest, EffectsOnOnePropertyRunIndependentlyToTheirOwnEnds)
{
    int first = 0;
    int second = 0;
    effectFade(cEffectTemplate(200, AlphaRampInc), mActor, 0, [&] { ++first; });
    runMainLoopFor(50);
    effectFade(cEffectTemplate(400, AlphaRampInc), mActor, 255, [&] { ++second; });
    ASSERT_TRUE(runMainLoopUntil([&] { return first == 1 && second == 1; }, 3000));
    runMainLoopFor(100);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 1);
    // The later effect ends last and leaves its value.
    EXPECT_EQ(clutter_actor_get_opacity(mActor), 255);
}

TEST_F(EffectsTest, CallbackStillRunsOnceWhenTheActorIsDestroyedMidway)
{
    ClutterActor* doomed = clutter_actor_new();
    clutter_actor_add_child(stageActor(), doomed);
    int completions = 0;
    const double started = nowMilliseconds();
    double finished = 0.0;
    effectMove(cEffectTemplate(250, AlphaRampInc), doomed, 300.0f, 300.0f, [&] {
        ++completions;
        finished = nowMilliseconds();
    });
    runMainLoopFor(60);
    clutter_actor_destroy(doomed);
    ASSERT_TRUE(runMainLoopUntil([&] { return completions > 0; }, 3000));
    runMainLoopFor(100);
    EXPECT_EQ(completions, 1);
    EXPECT_GE(finished - started, 245.0);
    EXPECT_EQ(runningEffectCount(), 0);
}

TEST_F(EffectsTest, StopEffectsCancelsWithoutCallback)
{
    int completions = 0;
    effectMove(cEffectTemplate(300, AlphaRampInc), mActor, 500.0f, 0.0f, [&] { ++completions; });
    effectFade(cEffectTemplate(300, AlphaRampInc), mActor, 0, [&] { ++completions; });
    runMainLoopFor(80);
    stopEffects(mActor);
    const float x = clutter_actor_get_x(mActor);
    EXPECT_EQ(runningEffectCount(), 0);
    runMainLoopFor(400);
    EXPECT_EQ(completions, 0);
    EXPECT_EQ(clutter_actor_get_x(mActor), x);
    EXPECT_LT(x, 500.0f);
}

TEST_F(EffectsTest, CallbackMayStartTheNextEffect)
{
    // The pulse of a button: grow, and when that ends, shrink back.
    bool shrunk = false;
    const cEffectTemplate pulse(100, AlphaRampInc);
    effectScale(pulse, mActor, 1.1, 1.1, [&] { effectScale(pulse, mActor, 1.0, 1.0, [&] { shrunk = true; }); });
    ASSERT_TRUE(runMainLoopUntil([&] { return shrunk; }, 3000));
    double x = 0.0;
    double y = 0.0;
    clutter_actor_get_scale(mActor, &x, &y);
    EXPECT_EQ(x, 1.0);
    EXPECT_EQ(runningEffectCount(), 0);
}

TEST_F(EffectsTest, TimelineCountsFramesFromElapsedTimeAndCompletes)
{
    cTimeline timeline(15, 120);
    EXPECT_EQ(timeline.duration(), 125u);
    EXPECT_EQ(cEffectTemplate(cTimeline(25, 120), AlphaRampInc).duration(), 208u);

    std::vector<int> frames;
    int completions = 0;
    timeline.setFrameHandler([&](int frame) { frames.push_back(frame); });
    timeline.setCompletedHandler([&] { ++completions; });
    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE(run);
        frames.clear();
        timeline.start();
        EXPECT_TRUE(timeline.isPlaying());
        ASSERT_TRUE(runMainLoopUntil([&] { return completions == run; }, 3000));
        EXPECT_FALSE(timeline.isPlaying());
        ASSERT_FALSE(frames.empty());
        EXPECT_TRUE(std::is_sorted(frames.begin(), frames.end()));
        EXPECT_EQ(frames.back(), 15);
        EXPECT_GE(frames.front(), 0);
    }
    runMainLoopFor(100);
    EXPECT_EQ(completions, 2);
}

TEST_F(EffectsTest, TimelineStartWhilePlayingGoesOnAndLoopingWraps)
{
    cTimeline timeline(12, 60); // 200 ms a turn
    timeline.setLoop(true);
    std::vector<int> frames;
    timeline.setFrameHandler([&](int frame) { frames.push_back(frame); });
    timeline.start();
    runMainLoopFor(120);
    const int before = timeline.currentFrame();
    timeline.start(); // no restart
    runMainLoopUntil([&] { return !frames.empty() && frames.back() != before; }, 1000);
    EXPECT_GE(timeline.currentFrame(), before);
    runMainLoopFor(600);
    EXPECT_TRUE(timeline.isPlaying());
    bool wrapped = false;
    for (size_t i = 1; i < frames.size(); ++i) {
        wrapped = wrapped || frames[i] < frames[i - 1];
        EXPECT_LE(frames[i], 12);
    }
    EXPECT_TRUE(wrapped);
    timeline.stop();
    EXPECT_FALSE(timeline.isPlaying());
    EXPECT_EQ(timeline.currentFrame(), 0);
}

} // namespace
