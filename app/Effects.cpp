#include "app/Effects.h"

#include <algorithm>
#include <cmath>
#include <list>
#include <memory>
#include <vector>

#include "app/MainLoop.h"

double alphaProgress(eAlpha alpha, double t)
{
    t = std::clamp(t, 0.0, 1.0);
    switch (alpha) {
    case AlphaSmoothstepInc:
        return t * t * (3.0 - 2.0 * t);
    case AlphaRampInc:
    default:
        return t;
    }
}

// --- cTimeline ---------------------------------------------------------

cTimeline::cTimeline(unsigned frames, unsigned framesPerSecond)
    // The toolkit never starts a timeline of length 0; such a timeline lasts
    // one millisecond instead, so that it still completes.
    : mTimeline(clutter_timeline_new(std::max(1u, framesPerSecond == 0 ? 0u : frames * 1000u / framesPerSecond)))
    , mFrames(frames)
    , mFramesPerSecond(framesPerSecond)
{
    mNewFrameHandlerId = g_signal_connect(mTimeline, "new-frame", G_CALLBACK(onNewFrame), this);
    mCompletedHandlerId = g_signal_connect(mTimeline, "completed", G_CALLBACK(onCompleted), this);
}

cTimeline::~cTimeline()
{
    g_signal_handler_disconnect(mTimeline, mNewFrameHandlerId);
    g_signal_handler_disconnect(mTimeline, mCompletedHandlerId);
    clutter_timeline_stop(mTimeline);
    g_object_unref(mTimeline);
}

void cTimeline::start()
{
    if (clutter_timeline_is_playing(mTimeline)) {
        return;
    }
    // A timeline that ran to its end stays there; each start is a new run.
    clutter_timeline_rewind(mTimeline);
    clutter_timeline_start(mTimeline);
}

void cTimeline::stop()
{
    clutter_timeline_stop(mTimeline);
}

bool cTimeline::isPlaying() const
{
    return clutter_timeline_is_playing(mTimeline);
}

void cTimeline::setLoop(bool loop)
{
    clutter_timeline_set_repeat_count(mTimeline, loop ? -1 : 0);
}

unsigned cTimeline::duration() const
{
    return clutter_timeline_get_duration(mTimeline);
}

int cTimeline::currentFrame() const
{
    const guint64 elapsed = clutter_timeline_get_elapsed_time(mTimeline);
    return static_cast<int>(elapsed * mFramesPerSecond / 1000u);
}

void cTimeline::onNewFrame(ClutterTimeline*, gint, gpointer self)
{
    auto* timeline = static_cast<cTimeline*>(self);
    if (timeline->mFrameHandler) {
        const int frame = timeline->currentFrame();
        // A copy: the handler may replace itself or delete the timeline.
        tFrameHandler handler = timeline->mFrameHandler;
        runGuarded([&] { handler(frame); });
    }
}

void cTimeline::onCompleted(ClutterTimeline*, gpointer self)
{
    auto* timeline = static_cast<cTimeline*>(self);
    if (timeline->mCompletedHandler) {
        // A copy: the handler may replace itself or delete the timeline.
        tCompletedHandler handler = timeline->mCompletedHandler;
        runGuarded(handler);
    }
}

// --- effects -------------------------------------------------------------

namespace {

// One running effect: one property transition per animated property, all
// of the same length, started together and driven by the same clock.
struct sEffect {
    ClutterActor* actor = nullptr; // strong reference
    std::vector<ClutterTransition*> transitions;
    std::vector<gulong> completedHandlers;
    gulong destroyHandler = 0;
    int remaining = 0;
    tEffectDone done;
    // A rotation ends with its angle brought back into 0..360.
    bool normalizeRotation = false;
    ClutterRotateAxis axis = CLUTTER_Z_AXIS;
    double finalAngle = 0.0;
};

std::list<std::unique_ptr<sEffect>> runningEffects; // main loop only

gdouble effectProgress(ClutterTimeline*, gdouble elapsed, gdouble total, gpointer alpha)
{
    const double t = total > 0.0 ? elapsed / total : 1.0;
    return alphaProgress(static_cast<eAlpha>(GPOINTER_TO_INT(alpha)), t);
}

std::list<std::unique_ptr<sEffect>>::iterator findEffect(sEffect* effect)
{
    return std::find_if(runningEffects.begin(), runningEffects.end(),
                        [effect](const std::unique_ptr<sEffect>& entry) { return entry.get() == effect; });
}

// Drops the toolkit objects of an effect that is no longer in the list.
void releaseEffect(sEffect& effect)
{
    for (size_t i = 0; i < effect.transitions.size(); ++i) {
        ClutterTransition* transition = effect.transitions[i];
        g_signal_handler_disconnect(transition, effect.completedHandlers[i]);
        clutter_timeline_stop(CLUTTER_TIMELINE(transition));
        clutter_transition_set_animatable(transition, nullptr);
        g_object_unref(transition);
    }
    effect.transitions.clear();
    if (effect.actor != nullptr) {
        if (effect.destroyHandler != 0) {
            g_signal_handler_disconnect(effect.actor, effect.destroyHandler);
        }
        g_object_unref(effect.actor);
        effect.actor = nullptr;
    }
}

void onTransitionCompleted(ClutterTimeline*, gpointer data)
{
    auto* effect = static_cast<sEffect*>(data);
    if (--effect->remaining > 0) {
        return;
    }
    auto position = findEffect(effect);
    if (position == runningEffects.end()) {
        return;
    }
    std::unique_ptr<sEffect> finished = std::move(*position);
    runningEffects.erase(position);

    if (finished->normalizeRotation && finished->actor != nullptr && !finished->transitions.empty() &&
        clutter_transition_get_animatable(finished->transitions.front()) != nullptr) {
        clutter_actor_set_rotation_angle(finished->actor, finished->axis, finished->finalAngle);
    }
    releaseEffect(*finished);
    // The callback comes last: it may start new effects, destroy the actor
    // or delete its owner.
    if (finished->done) {
        runGuarded(finished->done);
    }
}

// The actor is gone: the effect stops touching it but keeps its time, so
// that its callback still runs when the effect would have ended.
void onActorDestroyed(ClutterActor*, gpointer data)
{
    auto* effect = static_cast<sEffect*>(data);
    for (ClutterTransition* transition : effect->transitions) {
        clutter_transition_set_animatable(transition, nullptr);
    }
    // The actor's disposal drops every handler connected to it, this one
    // included.
    effect->destroyHandler = 0;
}

struct sProperty {
    const char* name;
    GValue from = G_VALUE_INIT;
    GValue to = G_VALUE_INIT;
};

// One animated property with its start and end value of the given type.
template <typename T>
sProperty makeProperty(const char* name, GType type, void (*set)(GValue*, T), T from, T to)
{
    sProperty property{name};
    g_value_init(&property.from, type);
    set(&property.from, from);
    g_value_init(&property.to, type);
    set(&property.to, to);
    return property;
}

sProperty floatProperty(const char* name, float from, float to)
{
    return makeProperty<gfloat>(name, G_TYPE_FLOAT, g_value_set_float, from, to);
}

sProperty doubleProperty(const char* name, double from, double to)
{
    return makeProperty<gdouble>(name, G_TYPE_DOUBLE, g_value_set_double, from, to);
}

sProperty uintProperty(const char* name, guint from, guint to)
{
    return makeProperty<guint>(name, G_TYPE_UINT, g_value_set_uint, from, to);
}

sEffect* startEffect(const cEffectTemplate& effectTemplate, ClutterActor* actor, std::vector<sProperty> properties,
                     tEffectDone done)
{
    if (actor == nullptr || properties.empty()) {
        for (sProperty& property : properties) {
            g_value_unset(&property.from);
            g_value_unset(&property.to);
        }
        return nullptr;
    }
    auto effect = std::make_unique<sEffect>();
    effect->actor = CLUTTER_ACTOR(g_object_ref(actor));
    effect->done = std::move(done);
    effect->remaining = static_cast<int>(properties.size());

    for (sProperty& property : properties) {
        ClutterTransition* transition = clutter_property_transition_new(property.name);
        clutter_transition_set_from_value(transition, &property.from);
        clutter_transition_set_to_value(transition, &property.to);
        g_value_unset(&property.from);
        g_value_unset(&property.to);

        ClutterTimeline* timeline = CLUTTER_TIMELINE(transition);
        clutter_timeline_set_duration(timeline, std::max(1u, effectTemplate.duration()));
        clutter_timeline_set_progress_func(timeline, effectProgress,
                                           GINT_TO_POINTER(static_cast<int>(effectTemplate.alpha())), nullptr);
        // The transition is ours, not the actor's: it is not kept in the
        // actor's table of named transitions, so any number of effects may
        // run on one actor, each to its own end.
        clutter_transition_set_remove_on_complete(transition, FALSE);
        clutter_transition_set_animatable(transition, CLUTTER_ANIMATABLE(actor));

        effect->completedHandlers.push_back(
            g_signal_connect(transition, "completed", G_CALLBACK(onTransitionCompleted), effect.get()));
        effect->transitions.push_back(transition);
    }
    effect->destroyHandler = g_signal_connect(actor, "destroy", G_CALLBACK(onActorDestroyed), effect.get());

    sEffect* started = effect.get();
    runningEffects.push_back(std::move(effect));
    for (ClutterTransition* transition : started->transitions) {
        clutter_timeline_start(CLUTTER_TIMELINE(transition));
    }
    return started;
}

double normalizeAngle(double angle)
{
    double result = std::fmod(angle, 360.0);
    if (result < 0.0) {
        result += 360.0;
    }
    return result;
}

} // namespace

void effectFade(const cEffectTemplate& effectTemplate, ClutterActor* actor, guint8 opacity, tEffectDone done)
{
    if (actor == nullptr) {
        return;
    }
    std::vector<sProperty> properties;
    properties.push_back(uintProperty("opacity", clutter_actor_get_opacity(actor), opacity));
    startEffect(effectTemplate, actor, std::move(properties), std::move(done));
}

void effectMove(const cEffectTemplate& effectTemplate, ClutterActor* actor, float x, float y, tEffectDone done)
{
    if (actor == nullptr) {
        return;
    }
    std::vector<sProperty> properties;
    properties.push_back(floatProperty("x", clutter_actor_get_x(actor), x));
    properties.push_back(floatProperty("y", clutter_actor_get_y(actor), y));
    startEffect(effectTemplate, actor, std::move(properties), std::move(done));
}

void effectDepth(const cEffectTemplate& effectTemplate, ClutterActor* actor, float depth, tEffectDone done)
{
    if (actor == nullptr) {
        return;
    }
    std::vector<sProperty> properties;
    properties.push_back(floatProperty("z-position", clutter_actor_get_z_position(actor), depth));
    startEffect(effectTemplate, actor, std::move(properties), std::move(done));
}

void effectScale(const cEffectTemplate& effectTemplate, ClutterActor* actor, double scaleX, double scaleY,
                 tEffectDone done)
{
    if (actor == nullptr) {
        return;
    }
    double currentX = 1.0;
    double currentY = 1.0;
    clutter_actor_get_scale(actor, &currentX, &currentY);
    std::vector<sProperty> properties;
    properties.push_back(doubleProperty("scale-x", currentX, scaleX));
    properties.push_back(doubleProperty("scale-y", currentY, scaleY));
    startEffect(effectTemplate, actor, std::move(properties), std::move(done));
}

void effectScale(const cEffectTemplate& effectTemplate, ClutterActor* actor, double scaleX, double scaleY,
                 float centerX, float centerY, tEffectDone done)
{
    if (actor == nullptr) {
        return;
    }
    double currentX = 1.0;
    double currentY = 1.0;
    clutter_actor_get_scale(actor, &currentX, &currentY);
    clutter_actor_set_scale_full(actor, currentX, currentY, centerX, centerY);
    effectScale(effectTemplate, actor, scaleX, scaleY, std::move(done));
}

void effectRotate(const cEffectTemplate& effectTemplate, ClutterActor* actor, ClutterRotateAxis axis, double angle,
                  float centerX, float centerY, float centerZ, eRotateDirection direction, tEffectDone done)
{
    if (actor == nullptr) {
        return;
    }
    const double start = normalizeAngle(clutter_actor_get_rotation_angle(actor, axis));
    double end = normalizeAngle(angle);
    if (direction == RotateClockwise && end <= start) {
        end += 360.0;
    } else if (direction == RotateCounterClockwise && end >= start) {
        end -= 360.0;
    }
    // Sets the centre of the turn, keeping the angle where it is.
    clutter_actor_set_rotation(actor, axis, start, centerX, centerY, centerZ);

    const char* property = axis == CLUTTER_X_AXIS   ? "rotation-angle-x"
                           : axis == CLUTTER_Y_AXIS ? "rotation-angle-y"
                                                    : "rotation-angle-z";
    std::vector<sProperty> properties;
    properties.push_back(doubleProperty(property, start, end));
    sEffect* effect = startEffect(effectTemplate, actor, std::move(properties), std::move(done));
    if (effect != nullptr) {
        effect->normalizeRotation = true;
        effect->axis = axis;
        effect->finalAngle = normalizeAngle(end);
    }
}

void stopEffects(ClutterActor* actor)
{
    std::vector<std::unique_ptr<sEffect>> cancelled;
    for (auto position = runningEffects.begin(); position != runningEffects.end();) {
        if ((*position)->actor == actor) {
            cancelled.push_back(std::move(*position));
            position = runningEffects.erase(position);
        } else {
            ++position;
        }
    }
    for (std::unique_ptr<sEffect>& effect : cancelled) {
        releaseEffect(*effect);
    }
}

int runningEffectCount()
{
    return static_cast<int>(runningEffects.size());
}
