#pragma once
// The player scene: the playing channel's video, upright, with its
// reflection on the background; a busy icon while the stream is opened;
// controls that fade in when the mouse moves and out 3 seconds after it
// stopped (back, full screen, add to favourites, the channel's name with
// what the programme guide says is on now and next, the volume knob and the
// zoom slider). Keys: Escape leaves full screen or goes
// back, F and F11 toggle full screen (as a double click on the picture
// does), M mutes, Left/Right and minus/plus turn the knob, Up/Down and
// Page Up/Page Down play the previous/next channel of the list the channel
// was chosen from (playback/Zapping.h). A scene reached that way shows the
// channel's name for two seconds, and says why when the channel does not
// play.
//
// Main loop only, with the toolkit lock held. The busy start and end come
// from the player's play task through notifyBusyStart()/notifyBusyEnd(),
// which carry them onto the main loop; while an ASX playlist is fetched the
// play procedure shows a scene without a player and starts its busy icon
// itself. The scene reaches the player only as
// the player manager's current player.

#include <memory>
#include <optional>
#include <string>

#include "app/Effects.h"
#include "app/Scene.h"
#include "playback/Zapping.h"

class cScalerWidget;
class cVolumeWidget;

// --- layout, as plain functions --------------------------------------------

struct sVideoSize {
    int width = 0;
    int height = 0;
};

// The video's size in the layout: in full screen the frame (vw x vh) fitted
// to the stage's width when it is wider than high, to its height
// otherwise, the ratio in single precision; windowed, the frame's own size.
sVideoSize playerLayoutVideoSize(int stageWidth, int stageHeight, int frameWidth, int frameHeight, bool fullScreen);
// The video's size when the frame size changes: in full screen the frame
// stretched to the stage's height on a stage wider than high, to its width
// otherwise, the ratio in single precision; windowed, the frame's size.
sVideoSize playerSizeChangeVideoSize(int stageWidth, int stageHeight, int frameWidth, int frameHeight,
                                     bool fullScreen);
// The reflection's top-left corner under a video of w x h centred on the
// stage: 5 pixels below its bottom edge.
void playerReflectionPosition(int stageWidth, int stageHeight, int width, int height, int& x, int& y);
// The video's depth for a zoom slider value (0 to 5): 0 to 500.
int playerZoomDepth(float value);

// The opacities at frame f of the controls' fade (frames in all): the
// controls rise to 255 while the video dims to 128 and its reflection to
// 33; fading out runs the other way.
struct sControlsOpacity {
    guint8 controls = 0;
    guint8 video = 255;
    guint8 reflection = 64;
};
sControlsOpacity playerControlsOpacity(int frame, int frames, bool visible);

// --- the scene ----------------------------------------------------------------

class cPlayerScene : public cScene {
public:
    // Controls hide this long after the last motion.
    static constexpr unsigned ControlsTimeoutMilliseconds = 3000;
    // A zapped-to channel's name shows this long.
    static constexpr unsigned ZapCaptionMilliseconds = 2000;

    explicit cPlayerScene(ClutterActor* root);
    ~cPlayerScene() override;

    void show() override;
    void hide() override;
    void busyStart() override;
    void busyEnd() override;
    // A stream without video shows the still card (the channel's name on
    // the background) in place of the video and its reflection; one with
    // video shows the video again.
    void streamParts(bool video, bool audio) override;
    // The guide's lines and a shown failure in the new language, then
    // everything placed again.
    void wordsChanged() override;
    // Places everything for the stage's size and the full-screen state.
    virtual void layout();
    // Zapping: the channel did not play; the caption says why and stays.
    void showZapFailure(const sChannelFailure& failure);

    // For checks.
    ClutterActor* videoTexture() const { return mVideoTexture; }
    ClutterActor* reflection() const { return mReflection; }
    ClutterActor* videoGroup() const { return mVideoGroup; }
    ClutterActor* controlsGroup() const { return mControlsGroup; }
    ClutterActor* background() const { return mBackground; }
    ClutterActor* busyIcon() const { return mBusyIcon; }
    ClutterActor* backButton() const { return mBackButton; }
    ClutterActor* fullScreenButton() const { return mFullScreenButton; }
    ClutterActor* addToFavouritesButton() const { return mAddToFavouritesButton; }
    ClutterActor* nameLabel() const { return mNameLabel; }
    // The guide's lines under the name; hidden when the guide has nothing.
    ClutterActor* guideNowLabel() const { return mGuideNowLabel; }
    ClutterActor* guideNextLabel() const { return mGuideNextLabel; }
    ClutterActor* stillCard() const { return mStillCard; }
    bool showsStillCard() const { return mShowsStillCard; }
    // The zapping caption: its text, and whether it shows.
    ClutterActor* zapCaption() const { return mZapCaption; }
    bool zapCaptionShown() const;
    cVolumeWidget* volumeKnob() const { return mVolumeKnob.get(); }
    cScalerWidget* zoomSlider() const { return mZoomSlider.get(); }
    bool controlsVisible() const { return mControlsVisible; }
    bool controlsFading() const { return mControlsTimeline->isPlaying(); }
    bool isFullScreen() const { return mFullScreen; }
    // The pending auto-hide timeout's source id, 0 when none is pending.
    guint pendingHideTimer() const;
    int frameWidth() const { return mFrameWidth; }
    int frameHeight() const { return mFrameHeight; }

private:
    // The stage handlers, one per connected signal; the key release goes to
    // the button handler.
    enum eStageHandler { HandlerEnter, HandlerLeave, HandlerButton, HandlerMotion, HandlerScroll, HandlerKey };
    template <eStageHandler handler>
    static gboolean onStageEvent(ClutterActor* stage, ClutterEvent* event, gpointer self);
    // The table of the stage handlers: true when the event is consumed.
    bool handleStageEvent(eStageHandler handler, ClutterEvent* event);
    bool handleKey(ClutterEvent* event);

    static void onSizeChange(ClutterTexture* texture, gint width, gint height, gpointer self);
    static void onStageAllocation(ClutterActor* stage, ClutterActorBox* box, ClutterAllocationFlags flags,
                                  gpointer self);
    static gboolean onHideTimer(gpointer self);
    static gboolean onZapCaptionTimer(gpointer self);
    static gboolean onGuideTimer(gpointer self);

    void sizeChanged(int width, int height);
    void placeVideo(int stageWidth, int stageHeight, int width, int height);
    void placeStillCard(int stageWidth, int stageHeight);
    void zoomChanged();
    void volumeChanged();
    void showControls(bool show);
    void startHideTimer();
    void controlsFrame(int frame);
    void controlsCompleted();
    void toggleFullScreen();
    // The back button's way out: leaves full screen, then the home scene.
    void goBack();
    void toggleMute();
    // One channel back or on in the zapping list.
    void zap(int step);
    // Shows text as the zapping caption, for `milliseconds` (0: until the
    // scene goes).
    void showZapCaption(const std::string& text, unsigned milliseconds);
    void placeZapCaption();
    // Reads what is on from the guide into the two lines and sets the
    // timer for the next change.
    void updateGuideLines();
    void placeGuideLines();
    // The knob one step up or down, with the controls shown to see it.
    void turnVolume(bool up);
    void addToFavourites();
    void spin(ClutterActor* button);
    int stageWidth() const;
    int stageHeight() const;

    // Every field: main loop only. The actors belong to the stage or to the
    // two groups from construction until the destructor removes them; the
    // video texture is shared with the player's frame callback, which holds
    // a reference of its own.
    ClutterActor* mVideoGroup;
    ClutterActor* mControlsGroup;
    ClutterActor* mNameLabel;
    ClutterActor* mBackground;
    ClutterActor* mBusyIcon;
    ClutterActor* mBackButton;
    ClutterActor* mFullScreenButton;
    ClutterActor* mAddToFavouritesButton;
    ClutterActor* mZapCaption; // above the controls; hidden until a zap
    ClutterActor* mGuideNowLabel;  // in the controls, under the name
    ClutterActor* mGuideNextLabel; // under the line above
    // The last press toggled full screen through its button: the press that
    // makes it a double click acts on nothing.
    bool mPressToggledByButton = false;
    // The reason of the zapping failure the caption shows, if it does.
    std::optional<sChannelFailure> mShownFailure;
    std::unique_ptr<cTimeline> mBusyTimeline;     // 360 frames at 120 per second, looping
    std::unique_ptr<cTimeline> mControlsTimeline; // 10 frames at 30 per second
    std::unique_ptr<cEffectTemplate> mShortTemplate; // 300 ms, ramp
    std::unique_ptr<cEffectTemplate> mLongTemplate;  // 600 ms, ramp
    ClutterActor* mVideoTexture;
    ClutterActor* mReflection;
    // In the video group beside the texture, hidden unless the stream has
    // no video.
    ClutterActor* mStillCard;
    std::unique_ptr<cVolumeWidget> mVolumeKnob;
    std::unique_ptr<cScalerWidget> mZoomSlider;

    bool mControlsVisible = false;
    guint mHideTimer = 0; // the last auto-hide timeout started; 0 before the first
    guint mZapCaptionTimer = 0; // the caption's pending timeout; 0 when none
    guint mGuideTimer = 0;      // the guide lines' next change; 0 when none
    bool mFullScreen = false;
    int mFrameWidth = 256;
    int mFrameHeight = 256;
    // Whether the video texture shows frames (opaque) rather than the
    // placeholder it starts with: set by the first frame's size change.
    bool mShowsFrames = false;
    bool mShowsStillCard = false;
    // The stage size the last layout was made for.
    int mLaidOutWidth = 0;
    int mLaidOutHeight = 0;

    gulong mSizeChangeHandler = 0;
    gulong mStageHandlers[7] = {};
    gulong mAllocationHandler = 0;
};
