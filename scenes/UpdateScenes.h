#pragma once
// The two scenes around the catalogue update at start-up: cUpdateScene
// while the catalogue is checked (a caption and a turning busy icon, no
// interaction), and cNewDBScene after a new catalogue was installed (a
// bold message and a continue button that leads to the home scene; Enter
// continues too).
//
// Everything here runs on the main loop.

#include <memory>

#include "app/Effects.h"
#include "app/Scene.h"

// The busy icon's angle in degrees at a frame of its timeline (360 frames
// at 120 per second: one turn every 3 seconds).
double busyIconAngle(int frame);

class cUpdateScene : public cScene {
public:
    explicit cUpdateScene(ClutterActor* root);
    ~cUpdateScene() override;

    void show() override;
    void hide() override;

protected:
    void layOutForStage(float width, float height) override;

public:
    // For layout checks.
    ClutterActor* sceneGroup() const { return mSceneGroup; }
    ClutterActor* caption() const { return mCaption; }
    ClutterActor* logo() const { return mLogo; }
    ClutterActor* busyIcon() const { return mBusyIcon; }
    ClutterActor* background() const { return mBackground; }

private:
    // All fields: main loop only. The actors belong to the scene group
    // until the destructor destroys them.
    ClutterActor* mSceneGroup;
    ClutterActor* mCaption;
    ClutterActor* mBackground;
    ClutterActor* mLogo;
    ClutterActor* mBusyIcon;
    std::unique_ptr<cTimeline> mBusyTimeline;
    cEffectTemplate mSceneTemplate;
};

class cNewDBScene : public cScene {
public:
    explicit cNewDBScene(ClutterActor* root);
    ~cNewDBScene() override;

    void show() override;
    void hide() override;
    // The message is markup: it is made again in the new language.
    void wordsChanged() override;

protected:
    void layOutForStage(float width, float height) override;

public:
    // For layout checks.
    ClutterActor* message() const { return mMessage; }
    ClutterActor* logo() const { return mLogo; }
    ClutterActor* background() const { return mBackground; }
    ClutterActor* continueButton() const { return mContinueButton; }

private:
    void setMessage();
    static gboolean onCrossing(ClutterActor* stage, ClutterEvent* event, gpointer self);
    static gboolean onButtonPress(ClutterActor* stage, ClutterEvent* event, gpointer self);
    static gboolean onKeyRelease(ClutterActor* stage, ClutterEvent* event, gpointer self);
    static gboolean onKeyPress(ClutterActor* stage, ClutterEvent* event, gpointer self);

    // All fields: main loop only. The actors belong to the stage (or the
    // scene group) until the destructor destroys them.
    ClutterActor* mSceneGroup;
    ClutterActor* mMessage;
    ClutterActor* mBackground;
    ClutterActor* mLogo;
    ClutterActor* mContinueButton;
    cEffectTemplate mSceneTemplate;
    gulong mHandlers[5] = {};
};
