#include "scenes/PlayerScene.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "app/Keys.h"
#include "app/MainLoop.h"
#include "app/PaintGate.h"
#include "app/Reflection.h"
#include "app/ScreenAwake.h"
#include "app/Stage.h"
#include "app/Words.h"
#include "catalogue/PlayerDatabase.h"
#include "kestrel/Exception.h"
#include "kestrel/Unicode.h"
#include "playback/PlayerManager.h"
#include "playback/Zapping.h"
#include "scenes/FailureText.h"
#include "scenes/GuideLines.h"
#include "scenes/IdleScene.h"
#include "state/Language.h"
#include "state/Settings.h"
#include "widgets/ScalerWidget.h"
#include "widgets/VolumeWidget.h"

namespace {

const ClutterColor White = {255, 255, 255, 255};

constexpr unsigned BusyFrames = 360;
constexpr unsigned BusyFramesPerSecond = 120;
constexpr unsigned ControlsFrames = 10;
constexpr unsigned ControlsFramesPerSecond = 30;
constexpr unsigned ShortMilliseconds = 300;
constexpr unsigned LongMilliseconds = 600;

constexpr int VideoReflectionHeight = -50;
constexpr guint8 VideoReflectionOpacity = 64;
constexpr float InitialVideoSize = 256.0f;
constexpr float ButtonSize = 48.0f;
// The still card of a stream without video: the channel's name, large,
// wrapped within the stage's width less this margin on each side.
const char* const StillCardFont = "Monospace Bold 32";
constexpr int StillCardMargin = 40;
// The guide's lines: smaller than the name above them, as wide as the
// stage allows less this margin on each side.
const char* const GuideFont = "Monospace 11";
constexpr int GuideMargin = 140;
// The name label keeps clear of the buttons beside it (centred 78 from
// each edge, ButtonSize wide).
constexpr int NameMargin = 78 + static_cast<int>(ButtonSize) / 2 + 8;
// The zap caption's room: the stage less this on each side.
constexpr int ZapCaptionMargin = 20;
constexpr int GuideLineGap = 2;
// A guide timer never waits longer than this (a clock changed meanwhile
// would leave a far one wrong); it then looks again.
constexpr int64_t GuideRecheckSeconds = 600;

// The playing channel's address: its playlist's, or without a player the
// catalogue's current one.
std::u16string currentChannelAddress()
{
    if (cVideoPlayer* player = cPlayerManager::instance()->currentPlayer()) {
        return player->getPlayList()->getUrl();
    }
    return cPlayerDatabase::instance()->currentAddress();
}

// The playing channel's name in UTF-8: the name the current player's
// playlist was made with. The catalogue's current channel may have changed
// since the play was asked for (an ASX playlist is fetched meanwhile); it
// is used only without a player. A name that cannot be converted leaves
// the label and the title empty rather than ending the program.
std::string currentChannelName()
{
    try {
        if (cVideoPlayer* player = cPlayerManager::instance()->currentPlayer()) {
            return kestrel::toUtf8(player->getPlayList()->getName());
        }
        return kestrel::toUtf8(cPlayerDatabase::instance()->currentName());
    } catch (const kestrel::cException&) {
        return std::string();
    }
}

} // namespace

// --- layout ------------------------------------------------------------------

sVideoSize playerLayoutVideoSize(int stageWidth, int stageHeight, int frameWidth, int frameHeight, bool fullScreen)
{
    if (!fullScreen) {
        return {frameWidth, frameHeight};
    }
    if (frameWidth <= 0 || frameHeight <= 0) {
        return {stageWidth, stageHeight};
    }
    if (frameWidth > frameHeight) {
        const float ratio = static_cast<float>(frameHeight) / static_cast<float>(frameWidth);
        return {stageWidth, static_cast<int>(static_cast<float>(stageWidth) * ratio)};
    }
    const float ratio = static_cast<float>(frameWidth) / static_cast<float>(frameHeight);
    return {static_cast<int>(static_cast<float>(stageHeight) * ratio), stageHeight};
}

sVideoSize playerSizeChangeVideoSize(int stageWidth, int stageHeight, int frameWidth, int frameHeight,
                                     bool fullScreen)
{
    if (!fullScreen) {
        return {frameWidth, frameHeight};
    }
    if (frameWidth <= 0 || frameHeight <= 0) {
        return {stageWidth, stageHeight};
    }
    if (stageHeight < stageWidth) {
        const float ratio = static_cast<float>(frameWidth) / static_cast<float>(frameHeight);
        return {static_cast<int>(ratio * static_cast<float>(stageHeight)), stageHeight};
    }
    const float ratio = static_cast<float>(frameHeight) / static_cast<float>(frameWidth);
    return {stageWidth, static_cast<int>(static_cast<float>(stageWidth) * ratio)};
}

void playerReflectionPosition(int stageWidth, int stageHeight, int width, int height, int& x, int& y)
{
    x = (stageWidth - width) / 2;
    y = (stageHeight - height) / 2 + height + 5;
}

int playerZoomDepth(float value)
{
    return static_cast<int>(static_cast<double>(value) * 100.0);
}

sControlsOpacity playerControlsOpacity(int frame, int frames, bool visible)
{
    frames = std::max(frames, 1);
    frame = std::clamp(frame, 0, frames);
    auto c = static_cast<guint8>(frame * 255 / frames);
    if (!visible) {
        c = static_cast<guint8>(255 - c);
    }
    sControlsOpacity opacity;
    opacity.controls = c;
    opacity.video = static_cast<guint8>(255 - c / 2);
    opacity.reflection = static_cast<guint8>(64 - c / 8);
    return opacity;
}

// --- cPlayerScene ------------------------------------------------------------

cPlayerScene::cPlayerScene(ClutterActor* root) : cScene(root)
{
    mVideoGroup = clutter_actor_new();
    mControlsGroup = clutter_actor_new();
    mNameLabel = clutter_text_new_full("Monospace", currentChannelName().c_str(), &White);
    mBackground = loadSkinTexture("player-bg.png", 800.0f, 600.0f);
    mBusyIcon = loadSkinTexture("busy.png", 96.0f, 96.0f);
    mBackButton = loadLabelledButton("back-button.png", u"button_back");
    mFullScreenButton = loadSkinTexture("fullscreen.png", ButtonSize, ButtonSize);
    mAddToFavouritesButton = loadSkinTexture("add2fav.png", ButtonSize, ButtonSize);
    mZapCaption = clutter_text_new_full("Monospace Bold 20", "", &White);
    clutter_text_set_line_alignment(CLUTTER_TEXT(mZapCaption), PANGO_ALIGN_CENTER);
    mGuideNowLabel = clutter_text_new_full(GuideFont, "", &White);
    mGuideNextLabel = clutter_text_new_full(GuideFont, "", &White);
    for (ClutterActor* label : {mGuideNowLabel, mGuideNextLabel}) {
        // Titles come from outside: shown as they are, never as markup,
        // and cut with an ellipsis rather than running off the stage.
        clutter_text_set_use_markup(CLUTTER_TEXT(label), FALSE);
        clutter_text_set_ellipsize(CLUTTER_TEXT(label), PANGO_ELLIPSIZE_END);
    }

    mBusyTimeline = std::make_unique<cTimeline>(BusyFrames, BusyFramesPerSecond);
    mBusyTimeline->setLoop(true);
    mBusyTimeline->setFrameHandler([this](int frame) {
        // One turn every 3 seconds about the icon's centre (its anchor).
        clutter_actor_set_rotation(mBusyIcon, CLUTTER_Z_AXIS, frame, 0.0f, 0.0f, 0.0f);
    });
    mControlsTimeline = std::make_unique<cTimeline>(ControlsFrames, ControlsFramesPerSecond);
    mControlsTimeline->setFrameHandler([this](int frame) { controlsFrame(frame); });
    mControlsTimeline->setCompletedHandler([this] { controlsCompleted(); });
    mShortTemplate = std::make_unique<cEffectTemplate>(ShortMilliseconds, AlphaRampInc);
    mLongTemplate = std::make_unique<cEffectTemplate>(LongMilliseconds, AlphaRampInc);

    mVideoTexture = loadSkinTexture("empty.png", InitialVideoSize, InitialVideoSize);
    clutter_actor_set_position(mVideoTexture, 0.0f, 0.0f);
    clutter_actor_set_size(mVideoTexture, InitialVideoSize, InitialVideoSize);
    // Frames arrive bottom row first and are shown turned about x: the
    // negative height makes the reflection mirror the picture as seen.
    mReflection = lumivex_texture_reflection_new(CLUTTER_TEXTURE(mVideoTexture));
    lumivex_texture_reflection_set_reflection_height(LUMIVEX_TEXTURE_REFLECTION(mReflection), VideoReflectionHeight);
    clutter_actor_set_size(mReflection, InitialVideoSize, InitialVideoSize);
    mSizeChangeHandler = g_signal_connect(mVideoTexture, "size-change", G_CALLBACK(onSizeChange), this);
    mStillCard = clutter_text_new_full(StillCardFont, currentChannelName().c_str(), &White);
    clutter_text_set_line_wrap(CLUTTER_TEXT(mStillCard), TRUE);
    // A name of one long word breaks where its characters do rather than
    // running off the card.
    clutter_text_set_line_wrap_mode(CLUTTER_TEXT(mStillCard), PANGO_WRAP_WORD_CHAR);
    clutter_text_set_line_alignment(CLUTTER_TEXT(mStillCard), PANGO_ALIGN_CENTER);
    clutter_actor_set_reactive(mBackButton, TRUE);
    clutter_actor_set_reactive(mFullScreenButton, TRUE);
    clutter_actor_set_reactive(mAddToFavouritesButton, TRUE);

    // The background is not painted while an opaque video hides all of it,
    // as a video larger than the window does: in software OpenGL that paint
    // costs about as much as the video's own.
    addPaintGate(mBackground, [this] { return mShowsFrames && coversStage(mVideoTexture); });

    // Bottom to top: background, video group, busy icon, controls group.
    clutter_actor_add_child(mRoot, mBackground);
    clutter_actor_add_child(mVideoGroup, mVideoTexture);
    clutter_actor_add_child(mVideoGroup, mReflection);
    clutter_actor_add_child(mVideoGroup, mStillCard);
    clutter_actor_add_child(mRoot, mVideoGroup);
    clutter_actor_add_child(mRoot, mBusyIcon);
    clutter_actor_add_child(mControlsGroup, mBackButton);
    clutter_actor_add_child(mControlsGroup, mFullScreenButton);
    clutter_actor_add_child(mControlsGroup, mAddToFavouritesButton);
    clutter_actor_add_child(mControlsGroup, mNameLabel);
    clutter_actor_add_child(mControlsGroup, mGuideNowLabel);
    clutter_actor_add_child(mControlsGroup, mGuideNextLabel);

    const int sw = stageWidth();
    const int sh = stageHeight();
    mVolumeKnob = std::make_unique<cVolumeWidget>(this, mControlsGroup, sw - 126, sh - 130, 96, 96);
    mVolumeKnob->setChangeSlot([this] { volumeChanged(); });
    // The change slot runs on this call: the player takes the stored volume
    // at once.
    mVolumeKnob->setValue(cSettings::instance()->getInteger(u"volume", 100));
    mVolumeKnob->setMuted(cSettings::instance()->getBoolean(u"muted", false));

    mZoomSlider = std::make_unique<cScalerWidget>(this, mControlsGroup, (sw - 256) / 2, sh - 90, 256, 32);
    mZoomSlider->setChangeSlot([this] { zoomChanged(); });

    clutter_actor_add_child(mRoot, mControlsGroup);
    clutter_actor_add_child(mRoot, mZapCaption);
    clutter_actor_hide(mZapCaption);
    // This scene's own actors only: a scene still fading out on the same
    // stage keeps what it has hidden.
    for (ClutterActor* actor : {mBackground, mVideoGroup, mVideoTexture, mReflection, mBusyIcon, mBackButton,
                                mFullScreenButton, mAddToFavouritesButton, mNameLabel}) {
        clutter_actor_show(actor);
    }
    clutter_actor_set_opacity(mControlsGroup, 255);
    clutter_actor_hide(mControlsGroup);
    clutter_actor_hide(mStillCard);

    // After watching, the home carousel opens on the most recent channel.
    resetRememberedIdleFocus();
    // A scene that follows another in full screen (the next channel) stays
    // there; its way back restores the geometry saved on the way in.
    mFullScreen = stageFullScreenRequested();
}

cPlayerScene::~cPlayerScene()
{
    if (pendingHideTimer() != 0) {
        g_source_remove(mHideTimer);
    }
    if (mZapCaptionTimer != 0) {
        g_source_remove(mZapCaptionTimer);
    }
    if (mGuideTimer != 0) {
        g_source_remove(mGuideTimer);
    }
    g_signal_handler_disconnect(mVideoTexture, mSizeChangeHandler);
    for (gulong handler : mStageHandlers) {
        if (handler != 0) {
            g_signal_handler_disconnect(mRoot, handler);
        }
    }
    if (mAllocationHandler != 0) {
        g_signal_handler_disconnect(mRoot, mAllocationHandler);
    }
    mVolumeKnob.reset();
    mZoomSlider.reset();

    // Running effects would call back into a scene that is gone; they stop
    // where they stand.
    for (ClutterActor* actor : {mVideoTexture, mReflection, mStillCard, mVideoGroup, mBusyIcon, mBackground,
                                mBackButton, mFullScreenButton, mAddToFavouritesButton, mNameLabel, mGuideNowLabel,
                                mGuideNextLabel, mControlsGroup, mZapCaption}) {
        stopEffects(actor);
    }
    clutter_actor_destroy(mZapCaption);
    // Removed rather than destroyed: the player's frame callback may still
    // hold the video texture, and lets it go when the player is gone.
    clutter_actor_remove_child(mVideoGroup, mVideoTexture);
    clutter_actor_remove_child(mVideoGroup, mReflection);
    clutter_actor_remove_child(mVideoGroup, mStillCard);
    clutter_actor_remove_child(mRoot, mVideoGroup);
    clutter_actor_remove_child(mRoot, mBusyIcon);
    clutter_actor_remove_child(mRoot, mBackground);
    clutter_actor_remove_child(mControlsGroup, mBackButton);
    clutter_actor_remove_child(mControlsGroup, mFullScreenButton);
    clutter_actor_remove_child(mControlsGroup, mAddToFavouritesButton);
    clutter_actor_remove_child(mControlsGroup, mNameLabel);
    clutter_actor_remove_child(mControlsGroup, mGuideNowLabel);
    clutter_actor_remove_child(mControlsGroup, mGuideNextLabel);
    clutter_actor_remove_child(mRoot, mControlsGroup);

    mShortTemplate.reset();
    mLongTemplate.reset();
    mBusyTimeline.reset();
    mControlsTimeline.reset();
}

int cPlayerScene::stageWidth() const
{
    return static_cast<int>(clutter_actor_get_width(mRoot));
}

int cPlayerScene::stageHeight() const
{
    return static_cast<int>(clutter_actor_get_height(mRoot));
}

guint cPlayerScene::pendingHideTimer() const
{
    if (mHideTimer == 0 || g_main_context_find_source_by_id(nullptr, mHideTimer) == nullptr) {
        return 0;
    }
    return mHideTimer;
}

void cPlayerScene::show()
{
    if (cVideoPlayer* player = cPlayerManager::instance()->currentPlayer()) {
        player->setTexture(CLUTTER_TEXTURE(mVideoTexture));
    }
    clutter_actor_set_scale(mBackground, 1.5, 1.5);
    clutter_stage_set_title(stage(), currentChannelName().c_str());

    clutter_actor_hide(mBusyIcon);
    mVolumeKnob->show();
    mZoomSlider->show();
    updateGuideLines();
    layout();

    effectScale(*mShortTemplate, mBackground, 1.0, 1.0);

    mStageHandlers[0] = g_signal_connect(mRoot, "enter-event", G_CALLBACK(onStageEvent<HandlerEnter>), this);
    mStageHandlers[1] = g_signal_connect(mRoot, "leave-event", G_CALLBACK(onStageEvent<HandlerLeave>), this);
    mStageHandlers[2] = g_signal_connect(mRoot, "button-press-event", G_CALLBACK(onStageEvent<HandlerButton>), this);
    mStageHandlers[3] = g_signal_connect(mRoot, "motion-event", G_CALLBACK(onStageEvent<HandlerMotion>), this);
    mStageHandlers[4] = g_signal_connect(mRoot, "key-release-event", G_CALLBACK(onStageEvent<HandlerButton>), this);
    mStageHandlers[5] = g_signal_connect(mRoot, "scroll-event", G_CALLBACK(onStageEvent<HandlerScroll>), this);
    mStageHandlers[6] = g_signal_connect(mRoot, "key-press-event", G_CALLBACK(onStageEvent<HandlerKey>), this);
    // Reached by a zap: the channel's name for a moment.
    if (isZapping()) {
        showZapCaption(currentChannelName(), ZapCaptionMilliseconds);
    }
    // A window manager carries out full screen after the request has
    // returned, by resizing the stage: lay out again for the new size.
    mAllocationHandler = g_signal_connect(mRoot, "allocation-changed", G_CALLBACK(onStageAllocation), this);
}

void cPlayerScene::hide()
{
    beginLeaving();
    // Only here, not when the scene is deleted: the next channel's scene
    // may already show pictures by then.
    keepScreenAwake(false);
    effectFade(*mShortTemplate, mVideoGroup, 0, [this] { delete this; });
}

void cPlayerScene::busyStart()
{
    // A fade still running from an earlier start or end must not finish
    // (and hide the icon) over this one.
    stopEffects(mBusyIcon);
    clutter_actor_set_z_position(mBusyIcon, 100.0f);
    clutter_actor_set_opacity(mBusyIcon, 0);
    clutter_actor_show(mBusyIcon);
    // The icon turns only while it can be seen: a timeline that runs for
    // the scene's whole life keeps the stage redrawing at its own rate,
    // and on a busy machine those redraws starve the frame uploads, which
    // run at a lower priority, so the video would freeze.
    if (!mBusyTimeline->isPlaying()) {
        mBusyTimeline->start();
    }
    effectFade(*mLongTemplate, mBusyIcon, 255);
    effectDepth(*mLongTemplate, mBusyIcon, 1.0f);
}

void cPlayerScene::busyEnd()
{
    stopEffects(mBusyIcon);
    clutter_actor_set_z_position(mBusyIcon, 1.0f);
    clutter_actor_set_opacity(mBusyIcon, 255);
    clutter_actor_show(mBusyIcon);
    effectFade(*mLongTemplate, mBusyIcon, 0, [this] {
        clutter_actor_hide(mBusyIcon);
        mBusyTimeline->stop();
    });
    effectDepth(*mLongTemplate, mBusyIcon, 100.0f);
}

void cPlayerScene::layout()
{
    const int sw = stageWidth();
    const int sh = stageHeight();
    mLaidOutWidth = sw;
    mLaidOutHeight = sh;

    clutter_actor_set_anchor_point(mBackground, sw / 2, sh / 2);
    clutter_actor_set_size(mBackground, sw, sh);
    clutter_actor_set_position(mBackground, sw / 2, sh / 2);

    clutter_actor_set_anchor_point(mBusyIcon, static_cast<int>(clutter_actor_get_width(mBusyIcon)) / 2,
                                   static_cast<int>(clutter_actor_get_height(mBusyIcon)) / 2);
    clutter_actor_set_position(mBusyIcon, sw / 2, sh / 2);

    // The name stands between the add-to-favourites and full-screen
    // buttons; a longer one ends in an ellipsis.
    fitLineWithin(mNameLabel, static_cast<float>(sw - 2 * NameMargin));
    clutter_actor_set_position(mNameLabel, (sw - static_cast<int>(clutter_actor_get_width(mNameLabel))) / 2, 50);
    placeGuideLines();
    placeZapCaption();
    clutter_actor_set_position(mBackButton, 30, sh - 100);

    clutter_actor_set_anchor_point(mFullScreenButton, ButtonSize / 2, ButtonSize / 2);
    clutter_actor_set_size(mFullScreenButton, ButtonSize, ButtonSize);
    clutter_actor_set_position(mFullScreenButton, sw - 78, 64);
    clutter_actor_set_anchor_point(mAddToFavouritesButton, ButtonSize / 2, ButtonSize / 2);
    clutter_actor_set_size(mAddToFavouritesButton, ButtonSize, ButtonSize);
    clutter_actor_set_position(mAddToFavouritesButton, 78, 64);

    mVolumeKnob->setPosition(sw - 126, sh - 130);
    mZoomSlider->setPosition((sw - 256) / 2, sh - 90);

    const sVideoSize video = playerLayoutVideoSize(sw, sh, mFrameWidth, mFrameHeight, mFullScreen);
    placeVideo(sw, sh, video.width, video.height);
    placeStillCard(sw, sh);
    if (mFullScreen) {
        effectDepth(*mShortTemplate, mVideoTexture, 0.0f);
        effectDepth(*mShortTemplate, mReflection, 0.0f);
        mZoomSlider->hide();
    } else {
        zoomChanged();
        mZoomSlider->show();
    }
}

void cPlayerScene::placeVideo(int sw, int sh, int width, int height)
{
    clutter_actor_set_anchor_point(mVideoTexture, width / 2, height / 2);
    clutter_actor_set_size(mVideoTexture, width, height);
    clutter_actor_set_position(mVideoTexture, sw / 2, sh / 2);
    int x = 0;
    int y = 0;
    playerReflectionPosition(sw, sh, width, height, x, y);
    clutter_actor_set_size(mReflection, width, height);
    clutter_actor_set_position(mReflection, x, y);
}

void cPlayerScene::placeStillCard(int sw, int sh)
{
    clutter_actor_set_width(mStillCard, static_cast<float>(std::max(sw - 2 * StillCardMargin, 1)));
    const int height = static_cast<int>(clutter_actor_get_height(mStillCard));
    clutter_actor_set_position(mStillCard, StillCardMargin, (sh - height) / 2);
}

void cPlayerScene::streamParts(bool video, bool)
{
    mShowsStillCard = !video;
    if (mShowsStillCard) {
        // The empty texture (or the last frame of an earlier entry) would
        // stand where no picture comes.
        clutter_actor_hide(mVideoTexture);
        clutter_actor_hide(mReflection);
        placeStillCard(stageWidth(), stageHeight());
        clutter_actor_show(mStillCard);
    } else {
        clutter_actor_hide(mStillCard);
        clutter_actor_show(mVideoTexture);
        clutter_actor_show(mReflection);
    }
}

void cPlayerScene::onSizeChange(ClutterTexture*, gint width, gint height, gpointer self)
{
    runGuarded([&] { static_cast<cPlayerScene*>(self)->sizeChanged(width, height); });
}

void cPlayerScene::sizeChanged(int width, int height)
{
    mFrameWidth = width;
    mFrameHeight = height;
    mShowsFrames = true;
    // Pictures show: the screen stays awake until the scene goes.
    if (!isLeaving()) {
        keepScreenAwake(true);
    }
    const int sw = stageWidth();
    const int sh = stageHeight();
    const sVideoSize video = playerSizeChangeVideoSize(sw, sh, mFrameWidth, mFrameHeight, mFullScreen);
    placeVideo(sw, sh, video.width, video.height);
    // The frames arrive bottom row first: half a turn about x about the
    // texture's centre (its anchor point) shows them upright.
    clutter_actor_set_rotation(mVideoTexture, CLUTTER_X_AXIS, 180.0, 0.0f, 0.0f, 0.0f);
    clutter_actor_set_opacity(mVideoTexture, 255);
    clutter_actor_set_opacity(mReflection, VideoReflectionOpacity);
}

void cPlayerScene::onStageAllocation(ClutterActor*, ClutterActorBox* box, ClutterAllocationFlags, gpointer self)
{
    auto* scene = static_cast<cPlayerScene*>(self);
    const int width = static_cast<int>(box->x2 - box->x1);
    const int height = static_cast<int>(box->y2 - box->y1);
    if (width != scene->mLaidOutWidth || height != scene->mLaidOutHeight) {
        runGuarded([scene] { scene->layout(); });
    }
}

void cPlayerScene::zoomChanged()
{
    const float depth = static_cast<float>(playerZoomDepth(mZoomSlider->getValue()));
    effectDepth(*mShortTemplate, mVideoTexture, depth);
    effectDepth(*mShortTemplate, mReflection, depth);
}

void cPlayerScene::volumeChanged()
{
    cVideoPlayer* player = cPlayerManager::instance()->currentPlayer();
    if (player == nullptr) {
        return;
    }
    // The player clamps, applies and stores it; stored once more as the
    // player has it.
    player->setVolume(mVolumeKnob->getValue());
    cSettings::instance()->setInteger(u"volume", player->getVolume());
}

// --- the controls ------------------------------------------------------------

void cPlayerScene::showControls(bool show)
{
    // Motion during a fade neither reverses it nor restarts the timeout.
    if (mControlsTimeline->isPlaying()) {
        return;
    }
    if (show && !mControlsVisible) {
        mControlsVisible = true;
        mControlsTimeline->start();
        startHideTimer();
    } else if (show) {
        if (mHideTimer != 0) {
            if (pendingHideTimer() != 0) {
                g_source_remove(mHideTimer);
            }
            startHideTimer();
        }
    } else if (mControlsVisible) {
        mControlsVisible = false;
        mControlsTimeline->start();
    }
}

void cPlayerScene::startHideTimer()
{
    // The toolkit's timeout takes the toolkit lock around the handler, as
    // every main-loop callback that touches actors must.
    mHideTimer = clutter_threads_add_timeout_full(G_PRIORITY_DEFAULT, ControlsTimeoutMilliseconds, onHideTimer, this,
                                                  nullptr);
}

gboolean cPlayerScene::onHideTimer(gpointer self)
{
    runGuarded([self] { static_cast<cPlayerScene*>(self)->showControls(false); });
    return G_SOURCE_REMOVE;
}

void cPlayerScene::controlsFrame(int frame)
{
    // The toolkit's last frame comes at the timeline's end, which counts as
    // the last frame number whatever the rounding of the duration.
    if (clutter_timeline_get_progress(mControlsTimeline->timeline()) >= 1.0) {
        frame = static_cast<int>(mControlsTimeline->frameCount());
    }
    clutter_actor_show(mControlsGroup);
    for (ClutterActor* child : {mBackButton, mFullScreenButton, mAddToFavouritesButton, mNameLabel}) {
        clutter_actor_show(child);
    }
    mVolumeKnob->show();
    mZoomSlider->show();
    if (mFullScreen) {
        mZoomSlider->hide();
    }
    const sControlsOpacity opacity =
        playerControlsOpacity(frame, static_cast<int>(mControlsTimeline->frameCount()), mControlsVisible);
    clutter_actor_set_opacity(mControlsGroup, opacity.controls);
    clutter_actor_set_opacity(mVideoTexture, opacity.video);
    clutter_actor_set_opacity(mReflection, opacity.reflection);
}

void cPlayerScene::controlsCompleted()
{
    if (mControlsVisible) {
        return;
    }
    for (ClutterActor* child : {mBackButton, mFullScreenButton, mAddToFavouritesButton, mNameLabel}) {
        clutter_actor_hide(child);
    }
    mVolumeKnob->hide();
    mZoomSlider->hide();
    clutter_actor_hide(mControlsGroup);
}

// --- the stage handlers ------------------------------------------------------
//
//   handler  event            source                       action                  consumed
//   motion   pointer motion   any                          controls show           yes
//   motion   other            -                            nothing                 no
//   enter    pointer enters   back button                  depth 10                yes
//   enter    pointer enters   full screen / favourites     scale 1.3               yes
//   leave    pointer leaves   back button                  depth 0                 yes
//   leave    pointer leaves   full screen / favourites     scale 1.0               yes
//   enter,   -                none or any other actor      nothing                 no
//   leave
//   button   press            back button                  leave full screen,      yes
//                                                          home scene
//   button   double press     any but the back button      nothing (a double       yes
//            (2nd, 4th...)                                 click on the button
//            after a press                                 toggles once)
//            that toggled
//            through the
//            full-screen
//            button
//   button   press            full-screen button           toggle full screen      no
//   button   press            favourites button            add to favourites       no
//   button   double press     none or any other actor      toggle full screen      no
//            (2nd, 4th...)    (the picture)
//   button   press            none or any other actor      nothing                 no
//   button   press, leaving   any                          nothing                 yes
//   button   key release,     -                            nothing                 no
//            other
//   scroll   any              -                            nothing                 yes
//   key      Escape (first)   -                            leave full screen, or   yes
//                                                          when windowed as the
//                                                          back button
//   key      F, F11 (first)   -                            toggle full screen      yes
//   key      M (first)        -                            mute or unmute, the     yes
//                                                          knob dimmed when muted,
//                                                          controls show
//   key      Left, minus      -                            knob one step down,     yes
//                                                          controls show
//   key      Right, plus      -                            knob one step up,       yes
//                                                          controls show
//   key      Up, Page Up      -                            previous channel of     yes
//                                                          the list (zapping)
//   key      Down, Page Down  -                            next channel of the     yes
//                                                          list (zapping)
//   key      any, leaving     -                            nothing (the scene      no
//                                                          that follows takes it)
//   key      other            -                            nothing                 no
//
// "first": the key acts on its first press only, not on the repeats of a
// key held down.

template <cPlayerScene::eStageHandler handler>
gboolean cPlayerScene::onStageEvent(ClutterActor*, ClutterEvent* event, gpointer self)
{
    bool consumed = false;
    runGuarded([&] { consumed = static_cast<cPlayerScene*>(self)->handleStageEvent(handler, event); });
    return consumed ? TRUE : FALSE;
}

bool cPlayerScene::handleStageEvent(eStageHandler handler, ClutterEvent* event)
{
    ClutterActor* source = clutter_event_get_source(event);
    const ClutterEventType type = clutter_event_type(event);
    const bool isButton = source != nullptr && (source == mFullScreenButton || source == mAddToFavouritesButton);

    switch (handler) {
    case HandlerMotion:
        if (type != CLUTTER_MOTION) {
            return false;
        }
        showControls(true);
        return true;

    case HandlerEnter:
    case HandlerLeave: {
        const bool enter = handler == HandlerEnter;
        if (source != nullptr && source == mBackButton) {
            effectDepth(*mShortTemplate, mBackButton, enter ? 10.0f : 0.0f);
            return true;
        }
        if (isButton) {
            const double scale = enter ? 1.3 : 1.0;
            effectScale(*mShortTemplate, source, scale, scale);
            return true;
        }
        return false;
    }

    case HandlerButton: {
        if (type != CLUTTER_BUTTON_PRESS) {
            return false;
        }
        if (isLeaving()) {
            return true;
        }
        if (source == nullptr) {
            return false;
        }
        if (source == mBackButton) {
            goBack();
            return true;
        }
        const guint clicks = clutter_event_get_click_count(event);
        // The second press of a double click whose first press toggled
        // through the full-screen button acts on nothing, wherever it
        // lands (the layout may have moved the button away from under
        // the pointer, and the picture there would toggle back).
        const bool secondOnButton = clicks >= 2 && mPressToggledByButton;
        mPressToggledByButton = false;
        if (source == mFullScreenButton) {
            if (!secondOnButton) {
                toggleFullScreen();
                mPressToggledByButton = true;
            }
        } else if (secondOnButton) {
            return true;
        } else if (source == mAddToFavouritesButton) {
            addToFavourites();
        } else if (clicks >= 2 && clicks % 2 == 0) {
            // The second press of a double click on the picture (the
            // knob and the slider take their presses before the stage);
            // the toolkit counts on through quick clicks, so each pair
            // toggles.
            toggleFullScreen();
        }
        return false;
    }

    case HandlerScroll:
        // Swallowed, smooth-scroll twins included: the scene has no use
        // for the wheel, and the widgets have had it before the stage.
        return true;

    case HandlerKey:
        return handleKey(event);
    }
    return false;
}

bool cPlayerScene::handleKey(ClutterEvent* event)
{
    if (isLeaving()) {
        return false;
    }
    const sKeyPress key = readKey(event);
    switch (key.key) {
    case eKey::Escape:
        if (!key.repeated) {
            if (mFullScreen) {
                toggleFullScreen();
            } else {
                goBack();
            }
        }
        return true;
    case eKey::F:
    case eKey::F11:
        if (!key.repeated) {
            toggleFullScreen();
        }
        return true;
    case eKey::M:
        if (!key.repeated) {
            toggleMute();
        }
        return true;
    case eKey::Left:
    case eKey::Minus:
        turnVolume(false);
        return true;
    case eKey::Right:
    case eKey::Plus:
        turnVolume(true);
        return true;
    case eKey::Up:
    case eKey::PageUp:
        zap(-1);
        return true;
    case eKey::Down:
    case eKey::PageDown:
        zap(1);
        return true;
    default:
        return false;
    }
}

void cPlayerScene::zap(int step)
{
    // The switch replaces this scene with the next channel's, which shows
    // the name; until it runs, further steps only move on in the list.
    zapBy(step);
}

void cPlayerScene::wordsChanged()
{
    if (isLeaving()) {
        return;
    }
    updateGuideLines();
    if (mShownFailure && zapCaptionShown()) {
        showZapFailure(*mShownFailure);
    }
    layout();
}

void cPlayerScene::showZapFailure(const sChannelFailure& failure)
{
    // Nothing more will come: no busy icon, no pictures to stay awake for.
    busyEnd();
    keepScreenAwake(false);
    sChannelFailure shown = failure;
    if (shown.channel.empty()) {
        try {
            shown.channel = kestrel::fromUtf8(currentChannelName());
        } catch (const kestrel::cException&) {
        }
    }
    showZapCaption(channelFailureText(shown), 0);
    mShownFailure = shown;
}

bool cPlayerScene::zapCaptionShown() const
{
    return CLUTTER_ACTOR_IS_VISIBLE(mZapCaption);
}

void cPlayerScene::showZapCaption(const std::string& text, unsigned milliseconds)
{
    mShownFailure.reset();
    if (mZapCaptionTimer != 0) {
        g_source_remove(mZapCaptionTimer);
        mZapCaptionTimer = 0;
    }
    // The media framework's words are shown as they are, never as markup.
    clutter_text_set_use_markup(CLUTTER_TEXT(mZapCaption), FALSE);
    clutter_text_set_text(CLUTTER_TEXT(mZapCaption), text.c_str());
    placeZapCaption();
    clutter_actor_show(mZapCaption);
    if (milliseconds != 0) {
        mZapCaptionTimer =
            clutter_threads_add_timeout_full(G_PRIORITY_DEFAULT, milliseconds, onZapCaptionTimer, this, nullptr);
    }
}

gboolean cPlayerScene::onZapCaptionTimer(gpointer self)
{
    auto* scene = static_cast<cPlayerScene*>(self);
    scene->mZapCaptionTimer = 0;
    clutter_actor_hide(scene->mZapCaption);
    return G_SOURCE_REMOVE;
}

void cPlayerScene::placeZapCaption()
{
    // Centred, under the name label of the controls and the guide's lines
    // below it; a long name or reason wraps within the stage.
    const int sw = stageWidth();
    wrapWithin(mZapCaption, static_cast<float>(sw - 2 * ZapCaptionMargin));
    const int width = static_cast<int>(clutter_actor_get_width(mZapCaption));
    float y = 100.0f;
    for (ClutterActor* label : {mGuideNowLabel, mGuideNextLabel}) {
        if (CLUTTER_ACTOR_IS_VISIBLE(label)) {
            y = std::max(y, clutter_actor_get_y(label) + clutter_actor_get_height(label) + 8.0f);
        }
    }
    clutter_actor_set_position(mZapCaption, (sw - width) / 2, y);
}

void cPlayerScene::updateGuideLines()
{
    if (mGuideTimer != 0) {
        g_source_remove(mGuideTimer);
        mGuideTimer = 0;
    }
    const int64_t now = currentUtc();
    const sGuideLines lines = guideLinesFor(currentChannelAddress(), kestrel::fromUtf8(currentChannelName()), now);
    const std::pair<ClutterActor*, const std::string*> labels[] = {{mGuideNowLabel, &lines.now},
                                                                   {mGuideNextLabel, &lines.next}};
    for (const auto& [label, text] : labels) {
        clutter_text_set_text(CLUTTER_TEXT(label), text->c_str());
        if (text->empty()) {
            clutter_actor_hide(label);
        } else {
            clutter_actor_show(label);
        }
    }
    placeGuideLines();
    placeZapCaption();
    // The lines follow the programmes while the channel plays; without a
    // change in sight the guide is looked at again now and then (a new
    // guide may have come meanwhile).
    int64_t wait = GuideRecheckSeconds;
    if (lines.changesAt > now) {
        wait = std::min(lines.changesAt - now, GuideRecheckSeconds);
    }
    mGuideTimer = clutter_threads_add_timeout_full(G_PRIORITY_DEFAULT, static_cast<guint>(wait * 1000), onGuideTimer,
                                                   this, nullptr);
}

gboolean cPlayerScene::onGuideTimer(gpointer self)
{
    auto* scene = static_cast<cPlayerScene*>(self);
    scene->mGuideTimer = 0;
    runGuarded([scene] { scene->updateGuideLines(); });
    return G_SOURCE_REMOVE;
}

void cPlayerScene::placeGuideLines()
{
    // Centred under the name label, each as wide as its text within the
    // stage less the margins.
    const int sw = stageWidth();
    float y = clutter_actor_get_y(mNameLabel) + clutter_actor_get_height(mNameLabel) + GuideLineGap;
    for (ClutterActor* label : {mGuideNowLabel, mGuideNextLabel}) {
        if (!CLUTTER_ACTOR_IS_VISIBLE(label)) {
            continue;
        }
        clutter_actor_set_width(label, -1.0f); // its natural width first
        const float width = std::min(clutter_actor_get_width(label), static_cast<float>(std::max(sw - 2 * GuideMargin, 40)));
        clutter_actor_set_width(label, width);
        clutter_actor_set_position(label, (static_cast<float>(sw) - width) / 2.0f, y);
        y += clutter_actor_get_height(label) + GuideLineGap;
    }
}

void cPlayerScene::goBack()
{
    // The user stops zapping: a failure from here on leads home again.
    stopZapping();
    if (mFullScreen) {
        // Leaves full screen on the way out; the flag stays, the scene is
        // going away.
        setStageFullScreen(false);
        restoreWindowGeometry();
    }
    requestHomeScene();
}

void cPlayerScene::toggleMute()
{
    cVideoPlayer* player = cPlayerManager::instance()->currentPlayer();
    if (player == nullptr) {
        return;
    }
    // The player applies and stores it; the knob shows it.
    player->setMuted(!player->isMuted());
    mVolumeKnob->setMuted(player->isMuted());
    showControls(true);
}

void cPlayerScene::turnVolume(bool up)
{
    // The knob's change slot sets and stores the volume, as the wheel's
    // steps do.
    if (up) {
        mVolumeKnob->increase();
    } else {
        mVolumeKnob->decrease();
    }
    showControls(true);
}

void cPlayerScene::toggleFullScreen()
{
    if (!mFullScreen) {
        saveWindowGeometry();
        setStageFullScreen(true);
        mFullScreen = true;
        layout();
        spin(mFullScreenButton);
    } else {
        setStageFullScreen(false);
        mFullScreen = false;
        layout();
        restoreWindowGeometry();
    }
}

void cPlayerScene::addToFavourites()
{
    if (cVideoPlayer* player = cPlayerManager::instance()->currentPlayer()) {
        const cPlayList* playList = player->getPlayList();
        // Ignored by the database when the address is a favourite already.
        cPlayerDatabase::instance()->addFavourite(playList->getName(), playList->getDescription(), playList->getUrl(),
                                                  headersFromFields(playList->getRequestHeaders()));
    }
    spin(mAddToFavouritesButton);
}

void cPlayerScene::spin(ClutterActor* button)
{
    // A whole turn about y through the button's centre (its anchor point).
    effectRotate(*mShortTemplate, button, CLUTTER_Y_AXIS, 360.0, 0.0f, 0.0f, 0.0f, RotateClockwise);
}
