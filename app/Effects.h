#pragma once
// Animation on the toolkit: timelines counted in frames, effect templates
// and the five effects (fade, move, depth, scale, rotate) that animate one
// property of one actor from its current value to a target.
//
// Everything here runs on the main loop.

#include <functional>

#include "app/Toolkit.h"

// How the elapsed fraction t (0..1) of an effect becomes its progress.
enum eAlpha {
    AlphaRampInc,      // t
    AlphaSmoothstepInc // 3t^2 - 2t^3
};

// The progress of the alpha at the elapsed fraction t (clamped to 0..1).
double alphaProgress(eAlpha alpha, double t);

// A timeline given as "frames at framesPerSecond": it lasts
// frames * 1000 / framesPerSecond milliseconds, and its frame number is the
// elapsed time * framesPerSecond / 1000, whole part (0 at the start,
// frames at the end).
class cTimeline {
public:
    using tFrameHandler = std::function<void(int frame)>;
    using tCompletedHandler = std::function<void()>;

    cTimeline(unsigned frames, unsigned framesPerSecond);
    // Stops the timeline; no handler runs afterwards.
    ~cTimeline();
    cTimeline(const cTimeline&) = delete;
    cTimeline& operator=(const cTimeline&) = delete;

    // Starts from the first frame; a timeline that is already playing goes
    // on undisturbed.
    void start();
    // Stops and goes back to the first frame; "completed" is not reported.
    void stop();
    bool isPlaying() const;
    // A looping timeline starts over at its end instead of completing.
    void setLoop(bool loop);

    unsigned frameCount() const { return mFrames; }
    unsigned framesPerSecond() const { return mFramesPerSecond; }
    unsigned duration() const;
    int currentFrame() const;

    // Called on every new frame with the frame number.
    void setFrameHandler(tFrameHandler handler) { mFrameHandler = std::move(handler); }
    // Called when the timeline reaches its end; a looping one, at the end of
    // every turn.
    void setCompletedHandler(tCompletedHandler handler) { mCompletedHandler = std::move(handler); }

    ClutterTimeline* timeline() const { return mTimeline; }

private:
    static void onNewFrame(ClutterTimeline* timeline, gint elapsed, gpointer self);
    static void onCompleted(ClutterTimeline* timeline, gpointer self);

    // All fields: main loop only.
    ClutterTimeline* mTimeline;
    unsigned mFrames;
    unsigned mFramesPerSecond;
    tFrameHandler mFrameHandler;
    tCompletedHandler mCompletedHandler;
    gulong mNewFrameHandlerId = 0;
    gulong mCompletedHandlerId = 0;
};

// What every effect made from it shares: its length and its alpha. A
// template built on a timeline takes that timeline's length; each effect
// still runs on a fresh timeline of its own.
class cEffectTemplate {
public:
    cEffectTemplate(unsigned durationMilliseconds, eAlpha alpha) : mDuration(durationMilliseconds), mAlpha(alpha) {}
    cEffectTemplate(const cTimeline& timeline, eAlpha alpha) : mDuration(timeline.duration()), mAlpha(alpha) {}

    unsigned duration() const { return mDuration; }
    eAlpha alpha() const { return mAlpha; }

private:
    unsigned mDuration;
    eAlpha mAlpha;
};

// Runs once, on the main loop, when the effect has reached its end. It
// also runs when the actor was destroyed meanwhile (at the time the effect
// would have ended); it never runs for an effect cancelled by stopEffects.
using tEffectDone = std::function<void()>;

enum eRotateDirection {
    RotateClockwise,       // the angle grows
    RotateCounterClockwise // the angle shrinks
};

// Each effect starts at once from the actor's current value. Effects on
// the same property of the same actor are independent: each runs to its
// own end.
void effectFade(const cEffectTemplate& effectTemplate, ClutterActor* actor, guint8 opacity, tEffectDone done = {});
void effectMove(const cEffectTemplate& effectTemplate, ClutterActor* actor, float x, float y, tEffectDone done = {});
void effectDepth(const cEffectTemplate& effectTemplate, ClutterActor* actor, float depth, tEffectDone done = {});
// Scales about the actor's current scale centre (its anchor point unless
// one was set).
void effectScale(const cEffectTemplate& effectTemplate, ClutterActor* actor, double scaleX, double scaleY,
                 tEffectDone done = {});
// Scales about (centerX, centerY) in the actor's coordinates.
void effectScale(const cEffectTemplate& effectTemplate, ClutterActor* actor, double scaleX, double scaleY,
                 float centerX, float centerY, tEffectDone done = {});
// Turns about the axis through the centre (in the actor's coordinates)
// from the current angle to angle, in the given direction. Angles are taken
// modulo 360; when start and end coincide the actor makes one full turn.
// At the end the angle is left in 0..360.
void effectRotate(const cEffectTemplate& effectTemplate, ClutterActor* actor, ClutterRotateAxis axis, double angle,
                  float centerX, float centerY, float centerZ, eRotateDirection direction, tEffectDone done = {});

// Cancels every running effect of the actor where it stands; their
// completion callbacks do not run. Owners call it before they go away when
// a callback would reach them.
void stopEffects(ClutterActor* actor);

// The number of effects still running (all actors).
int runningEffectCount();
