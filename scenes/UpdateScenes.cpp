#include "scenes/UpdateScenes.h"

#include <cmath>

#include "app/Keys.h"
#include "app/Stage.h"
#include "app/Words.h"
#include "scenes/IdleScene.h"

namespace {

const ClutterColor White = {255, 255, 255, 255};

constexpr unsigned BusyFrames = 360;
constexpr unsigned BusyFramesPerSecond = 120;

// Hangs the logo from the top edge, centred: its centre at a third of its
// height.
void placeLogo(ClutterActor* logo, float stageWidth)
{
    clutter_actor_set_anchor_point_from_gravity(logo, CLUTTER_GRAVITY_CENTER);
    clutter_actor_set_position(logo, stageWidth / 2.0f, clutter_actor_get_height(logo) / 3.0f);
}

} // namespace

double busyIconAngle(int frame)
{
    return static_cast<double>(((frame % 360) + 360) % 360);
}

// --- cUpdateScene ----------------------------------------------------------

cUpdateScene::cUpdateScene(ClutterActor* root)
    : cScene(root)
    , mBusyTimeline(std::make_unique<cTimeline>(BusyFrames, BusyFramesPerSecond))
    , mSceneTemplate(400, AlphaRampInc)
{
    mSceneGroup = clutter_actor_new();
    mCaption = newWordLabel("Monospace", u"update_caption", &White);
    mBackground = loadSkinTexture("update-bg.png", 800.0f, 600.0f);
    mLogo = loadSkinTexture("logo.png", 400.0f, 150.0f);
    mBusyIcon = loadSkinTexture("busy.png", 96.0f, 96.0f);

    mBusyTimeline->setLoop(true);
    mBusyTimeline->setFrameHandler([this](int frame) {
        // About the anchor point, which show() puts at the icon's centre.
        clutter_actor_set_rotation(mBusyIcon, CLUTTER_Z_AXIS, busyIconAngle(frame), 0.0f, 0.0f, 0.0f);
    });

    clutter_actor_add_child(mSceneGroup, mBackground);
    clutter_actor_add_child(mSceneGroup, mCaption);
    clutter_actor_add_child(mSceneGroup, mLogo);
    clutter_actor_add_child(mSceneGroup, mBusyIcon);
    clutter_actor_add_child(mRoot, mSceneGroup);
    clutter_actor_show_all(mRoot);
}

cUpdateScene::~cUpdateScene()
{
    stopEffects(mSceneGroup);
    clutter_actor_destroy(mBackground);
    clutter_actor_destroy(mCaption);
    clutter_actor_destroy(mLogo);
    clutter_actor_destroy(mBusyIcon);
    clutter_actor_destroy(mSceneGroup);
    mBusyTimeline.reset();
}

void cUpdateScene::show()
{
    const float sw = clutter_actor_get_width(mRoot);
    const float sh = clutter_actor_get_height(mRoot);
    setTitleWord(u"update_title");

    clutter_actor_set_z_position(mSceneGroup, -100.0f);
    clutter_actor_set_opacity(mSceneGroup, 0);

    clutter_actor_set_anchor_point_from_gravity(mBusyIcon, CLUTTER_GRAVITY_CENTER);
    layOutForStage(sw, sh);
    followStageSize();

    effectFade(mSceneTemplate, mSceneGroup, 255);
    effectDepth(mSceneTemplate, mSceneGroup, 0.0f);
    mBusyTimeline->start();
}

void cUpdateScene::layOutForStage(float sw, float sh)
{
    float x = 0.0f;
    float y = 0.0f;
    captionPosition(sw, sh, clutter_actor_get_width(mCaption), clutter_actor_get_height(mCaption), x, y);
    clutter_actor_set_position(mCaption, x, y);
    clutter_actor_set_position(mBusyIcon, sw / 2.0f, sh / 2.0f);
    placeLogo(mLogo, sw);
}

void cUpdateScene::hide()
{
    beginLeaving();
    effectFade(mSceneTemplate, mSceneGroup, 0, [this] { delete this; });
    effectDepth(mSceneTemplate, mSceneGroup, -100.0f);
}

// --- cNewDBScene -----------------------------------------------------------

cNewDBScene::cNewDBScene(ClutterActor* root) : cScene(root), mSceneTemplate(300, AlphaRampInc)
{
    mSceneGroup = clutter_actor_new();
    mMessage = clutter_text_new_full("Verdana 10", "", &White);
    clutter_text_set_use_markup(CLUTTER_TEXT(mMessage), TRUE);
    setMessage();
    mBackground = loadSkinTexture("update-bg.png", 800.0f, 600.0f);
    mLogo = loadSkinTexture("logo.png", 400.0f, 150.0f);
    mContinueButton = loadLabelledButton("continue-button.png", u"button_continue");
    clutter_actor_set_reactive(mContinueButton, TRUE);

    clutter_actor_add_child(mSceneGroup, mMessage);
    clutter_actor_add_child(mSceneGroup, mContinueButton);
    // Bottom to top: background, scene group, logo.
    clutter_actor_add_child(mRoot, mBackground);
    clutter_actor_add_child(mRoot, mSceneGroup);
    clutter_actor_add_child(mRoot, mLogo);
    clutter_actor_show_all(mRoot);
}

cNewDBScene::~cNewDBScene()
{
    for (gulong handler : mHandlers) {
        if (handler != 0) {
            g_signal_handler_disconnect(mRoot, handler);
        }
    }
    stopEffects(mSceneGroup);
    stopEffects(mBackground);
    stopEffects(mContinueButton);
    clutter_actor_destroy(mMessage);
    clutter_actor_destroy(mContinueButton);
    clutter_actor_destroy(mBackground);
    clutter_actor_destroy(mSceneGroup);
    clutter_actor_destroy(mLogo);
}

void cNewDBScene::show()
{
    const float sw = clutter_actor_get_width(mRoot);
    const float sh = clutter_actor_get_height(mRoot);
    setTitleWord(u"newdb_title");

    clutter_actor_set_z_position(mSceneGroup, 100.0f);
    clutter_actor_set_opacity(mSceneGroup, 0);
    clutter_actor_set_scale(mBackground, 1.5, 1.5);

    clutter_actor_set_anchor_point_from_gravity(mBackground, CLUTTER_GRAVITY_CENTER);
    clutter_actor_set_position(mBackground, clutter_actor_get_width(mBackground) / 2.0f,
                               clutter_actor_get_height(mBackground) / 2.0f);
    layOutForStage(sw, sh);
    followStageSize();

    effectFade(mSceneTemplate, mSceneGroup, 255);
    effectDepth(mSceneTemplate, mSceneGroup, 0.0f);
    effectScale(mSceneTemplate, mBackground, 1.0, 1.0);

    mHandlers[0] = g_signal_connect(mRoot, "enter-event", G_CALLBACK(onCrossing), this);
    mHandlers[1] = g_signal_connect(mRoot, "leave-event", G_CALLBACK(onCrossing), this);
    mHandlers[2] = g_signal_connect(mRoot, "button-press-event", G_CALLBACK(onButtonPress), this);
    mHandlers[3] = g_signal_connect(mRoot, "key-release-event", G_CALLBACK(onKeyRelease), this);
    mHandlers[4] = g_signal_connect(mRoot, "key-press-event", G_CALLBACK(onKeyPress), this);
}

void cNewDBScene::setMessage()
{
    clutter_text_set_markup(CLUTTER_TEXT(mMessage), ("<b>" + shownMarkup(u"newdb_message") + "</b>").c_str());
}

void cNewDBScene::wordsChanged()
{
    setMessage();
    cScene::wordsChanged();
}

void cNewDBScene::layOutForStage(float sw, float sh)
{
    clutter_actor_set_position(mMessage, (sw - clutter_actor_get_width(mMessage)) / 2.0f,
                               (sh - clutter_actor_get_height(mMessage)) / 2.0f);
    placeLogo(mLogo, sw);
    clutter_actor_set_position(mContinueButton, (sw - clutter_actor_get_width(mContinueButton)) / 2.0f, 500.0f);
}

void cNewDBScene::hide()
{
    beginLeaving();
    effectFade(mSceneTemplate, mSceneGroup, 0, [this] { delete this; });
}

// The stage's handlers act only on events whose source is the continue
// button:
//
//   event          action            consumed
//   enter / leave  depth 10 / 0      yes
//   button press   home scene        no
//
// and a button press from any source once the scene is leaving: nothing,
// consumed. Keys come from the stage:
//
//   key Enter      home scene, on its first press (not a repeat)   yes
//   key, leaving   nothing (the scene that follows takes it)       no
//   other keys     nothing                                         no
//   key release    nothing                                         no

gboolean cNewDBScene::onCrossing(ClutterActor*, ClutterEvent* event, gpointer data)
{
    auto* self = static_cast<cNewDBScene*>(data);
    if (clutter_event_get_source(event) != self->mContinueButton) {
        return FALSE;
    }
    effectDepth(self->mSceneTemplate, self->mContinueButton, clutter_event_type(event) == CLUTTER_ENTER ? 10.0f : 0.0f);
    return TRUE;
}

gboolean cNewDBScene::onButtonPress(ClutterActor*, ClutterEvent* event, gpointer data)
{
    auto* self = static_cast<cNewDBScene*>(data);
    if (clutter_event_type(event) != CLUTTER_BUTTON_PRESS) {
        return FALSE;
    }
    if (self->isLeaving()) {
        return TRUE;
    }
    if (clutter_event_get_source(event) == self->mContinueButton) {
        requestHomeScene();
    }
    return FALSE;
}

gboolean cNewDBScene::onKeyRelease(ClutterActor*, ClutterEvent*, gpointer)
{
    return FALSE; // keys act on their press
}

gboolean cNewDBScene::onKeyPress(ClutterActor*, ClutterEvent* event, gpointer data)
{
    auto* self = static_cast<cNewDBScene*>(data);
    if (self->isLeaving()) {
        return FALSE;
    }
    const sKeyPress key = readKey(event);
    if (key.key != eKey::Enter) {
        return FALSE;
    }
    if (!key.repeated) {
        requestHomeScene();
    }
    return TRUE;
}
