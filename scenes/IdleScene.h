#pragma once
// The home scene: a carousel of eleven tiles showing the recently watched
// channels (the most recent in the middle, older ones alternating left and
// right, placeholders where there is no entry), turned by the mouse wheel;
// a click on a tile plays that channel. Two buttons lead to the channel
// browser and the favourites. Keys: Left and Right turn the carousel as a
// wheel step does, Enter plays the centre tile, C opens the channel
// browser, V the favourites.
//
// Everything here runs on the main loop.

#include <memory>
#include <optional>

#include "app/Effects.h"
#include "app/Scene.h"
#include "playback/Zapping.h"

// --- layout, as plain functions --------------------------------------------

constexpr int IdlePlaceCount = 11;
constexpr int IdleCentrePlace = 5;
constexpr float IdleTileSize = 256.0f;

// The recent-list entry that carousel place p shows (entry 0 is the most
// recent): 9 7 5 3 1 0 2 4 6 8 10 from the left. -1 outside 0..10.
int idleEntryForPlace(int place);
// The place that shows recent-list entry r; -1 when no place does.
int idlePlaceForEntry(int entry);

// n brought into the places 0..10.
int clampIdleFocus(int n);

// Where carousel place i stands when the focus is on place focus: tiles one
// tile width apart on the line through the stage centre, 300 units deeper
// and 30 steps of opacity fainter per place away from the focus; the
// reflection 5 pixels below the tile, fading 8 steps per place. Positions
// are of the centres (the tiles' anchor points).
struct sCarouselSlot {
    float x = 0.0f;
    float y = 0.0f;
    float reflectionY = 0.0f;
    float depth = 0.0f;
    guint8 opacity = 0;
    guint8 reflectionOpacity = 0;
};
sCarouselSlot idleCarouselSlot(int place, int focus, float stageWidth, float stageHeight, float tileWidth);

// The caption's top-left corner: centred, four label heights above the
// bottom edge. Shared by the scenes that show a caption at the bottom.
void captionPosition(float stageWidth, float stageHeight, float labelWidth, float labelHeight, float& x, float& y);

// How long the home scene says why a channel did not play.
constexpr unsigned IdleFailureMilliseconds = 6000;
// Where that sentence stands: centred, wrapped within the stage less a
// margin on each side (the label's width), its bottom edge a little above
// the caption's top (captionY).
void idleFailurePosition(float stageWidth, float labelWidth, float labelHeight, float captionY, float& x, float& y);
constexpr float IdleFailureMargin = 20.0f;

// The place the next home scene centres: kept across scenes for the
// process, initially the centre place. A home scene starts with it and
// writes its own focus back when it stops being current; the player scene
// puts it back on the centre when it is created, so that after watching a
// channel the home scene opens on the most recent one.
int rememberedIdleFocus();
void setRememberedIdleFocus(int focus);
void resetRememberedIdleFocus();

// --- the scene ----------------------------------------------------------------

class cIdleScene : public cScene {
public:
    explicit cIdleScene(ClutterActor* root);
    ~cIdleScene() override;

    void show() override;
    void hide() override;
    // The failure shown again in the new language.
    void wordsChanged() override;

protected:
    void layOutForStage(float width, float height) override;
    // Caption, logo and buttons where they stand on a stage of this size.
    void placeFrame(float width, float height);

public:
    // Centres place n (clamped to 0..10) and animates every tile to its
    // slot over the carousel timeline.
    void setFocus(int n);

    // For layout checks.
    int focus() const { return mFocus; }
    ClutterActor* tile(int place) const { return mTiles[place]; }
    ClutterActor* reflection(int place) const { return mReflections[place]; }
    // True when the place shows a recent picture, false for the placeholder.
    bool showsPicture(int place) const { return mShowsPicture[place]; }
    ClutterActor* background() const { return mBackground; }
    ClutterActor* logo() const { return mLogo; }
    ClutterActor* caption() const { return mCaption; }
    // The sentence that says why a channel did not play: shown for
    // IdleFailureMilliseconds when the scene came after a failed channel.
    ClutterActor* failureCaption() const { return mFailureCaption; }
    ClutterActor* channelsButton() const { return mChannelsButton; }
    ClutterActor* favoritesButton() const { return mFavoritesButton; }
    bool isCarouselTurning() const { return mCarouselTimeline->isPlaying(); }

private:
    static gboolean onCrossing(ClutterActor* stage, ClutterEvent* event, gpointer self);
    static gboolean onButtonPress(ClutterActor* stage, ClutterEvent* event, gpointer self);
    static gboolean onKeyRelease(ClutterActor* stage, ClutterEvent* event, gpointer self);
    static gboolean onKeyPress(ClutterActor* stage, ClutterEvent* event, gpointer self);
    static gboolean onScroll(ClutterActor* stage, ClutterEvent* event, gpointer self);

    bool handleCrossing(ClutterActor* source, bool enter);
    bool handleClick(ClutterActor* source);
    bool handleScroll(const ClutterEvent* event);
    bool handleKey(const ClutterEvent* event);
    // One place towards the higher places (up) or the lower ones, unless
    // the carousel or a hover is animating; false then.
    bool turn(bool up);
    // Makes the recent channel of the place current and asks for the
    // player scene; nothing for a place without a recent entry.
    void playPlace(int place);
    // The place whose tile is the actor; -1 for any other actor.
    int placeOfTile(ClutterActor* actor) const;
    void makeTile(int place);
    // Paints far tiles first, so that nearer ones cover them.
    void stackByDistance();
    // The failure's sentence in the loaded language, wrapped and placed.
    void placeFailure(float sw, float sh);
    static gboolean onFailureTimer(gpointer self);

    // All fields: main loop only. The actors belong to the stage (or to the
    // groups) until the destructor destroys them.
    int mFocus;
    ClutterActor* mSceneGroup;
    ClutterActor* mCarouselGroup;
    ClutterActor* mCaption;
    ClutterActor* mFailureCaption; // in the scene group; hidden unless a failure is shown
    std::optional<sChannelFailure> mFailure; // the one shown, until its time is up
    guint mFailureTimer = 0;
    ClutterActor* mBackground;
    ClutterActor* mLogo;
    ClutterActor* mChannelsButton;
    ClutterActor* mFavoritesButton;
    ClutterActor* mTiles[IdlePlaceCount] = {};
    ClutterActor* mReflections[IdlePlaceCount] = {};
    bool mShowsPicture[IdlePlaceCount] = {};
    std::unique_ptr<cTimeline> mCarouselTimeline;
    std::unique_ptr<cTimeline> mHoverTimeline;
    cEffectTemplate mSceneTemplate;
    cEffectTemplate mCarouselTemplate;
    cEffectTemplate mHoverTemplate;
    gulong mHandlers[6] = {};
};
