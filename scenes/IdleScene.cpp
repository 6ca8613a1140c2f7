#include "scenes/IdleScene.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iterator>

#include "app/Keys.h"
#include "app/MainLoop.h"
#include "app/Reflection.h"
#include "app/Stage.h"
#include "app/Wheel.h"
#include "app/Words.h"
#include "catalogue/PlayerDatabase.h"
#include "playback/Zapping.h"
#include "scenes/FailureText.h"
#include "state/Recent.h"

namespace {

const int PlaceToEntry[IdlePlaceCount] = {9, 7, 5, 3, 1, 0, 2, 4, 6, 8, 10};

int rememberedFocus = IdleCentrePlace; // main loop only

const ClutterColor White = {255, 255, 255, 255};

// Carousel timeline: 15 frames at 120 per second (125 ms); hover timeline:
// 25 frames at 120 per second (about 208 ms).
constexpr unsigned CarouselFrames = 15;
constexpr unsigned HoverFrames = 25;
constexpr unsigned FramesPerSecond = 120;
constexpr unsigned SceneMilliseconds = 300;

guint8 fadedOpacity(int start, int step, int distance)
{
    return static_cast<guint8>(std::max(0, start - step * distance));
}

} // namespace

int idleEntryForPlace(int place)
{
    return place >= 0 && place < IdlePlaceCount ? PlaceToEntry[place] : -1;
}

int idlePlaceForEntry(int entry)
{
    for (int place = 0; place < IdlePlaceCount; ++place) {
        if (PlaceToEntry[place] == entry) {
            return place;
        }
    }
    return -1;
}

int clampIdleFocus(int n)
{
    return std::clamp(n, 0, IdlePlaceCount - 1);
}

sCarouselSlot idleCarouselSlot(int place, int focus, float stageWidth, float stageHeight, float tileWidth)
{
    const int distance = std::abs(place - focus);
    sCarouselSlot slot;
    slot.x = stageWidth / 2.0f + static_cast<float>(place - focus) * tileWidth;
    slot.y = stageHeight / 2.0f;
    slot.reflectionY = stageHeight / 2.0f + tileWidth + 5.0f;
    slot.depth = -300.0f * static_cast<float>(distance);
    slot.opacity = fadedOpacity(255, 30, distance);
    slot.reflectionOpacity = fadedOpacity(64, 8, distance);
    return slot;
}

void captionPosition(float stageWidth, float stageHeight, float labelWidth, float labelHeight, float& x, float& y)
{
    x = (stageWidth - labelWidth) / 2.0f;
    y = stageHeight - 4.0f * labelHeight;
}

int rememberedIdleFocus()
{
    return rememberedFocus;
}

void setRememberedIdleFocus(int focus)
{
    rememberedFocus = clampIdleFocus(focus);
}

void resetRememberedIdleFocus()
{
    rememberedFocus = IdleCentrePlace;
}

// --- cIdleScene ------------------------------------------------------------

cIdleScene::cIdleScene(ClutterActor* root)
    : cScene(root)
    , mFocus(rememberedFocus)
    , mCarouselTimeline(std::make_unique<cTimeline>(CarouselFrames, FramesPerSecond))
    , mHoverTimeline(std::make_unique<cTimeline>(HoverFrames, FramesPerSecond))
    , mSceneTemplate(SceneMilliseconds, AlphaRampInc)
    , mCarouselTemplate(*mCarouselTimeline, AlphaSmoothstepInc)
    , mHoverTemplate(*mHoverTimeline, AlphaRampInc)
{
    mSceneGroup = clutter_actor_new();
    mCarouselGroup = clutter_actor_new();
    mCaption = newWordLabel("Monospace", u"idle_caption", &White);
    mFailureCaption = clutter_text_new_full("Monospace Bold 16", "", &White);
    clutter_text_set_line_alignment(CLUTTER_TEXT(mFailureCaption), PANGO_ALIGN_CENTER);
    // A channel's name comes from outside: never markup.
    clutter_text_set_use_markup(CLUTTER_TEXT(mFailureCaption), FALSE);
    mBackground = loadSkinTexture("idle-bg.png", 800.0f, 600.0f);
    mLogo = loadSkinTexture("logo.png", 400.0f, 150.0f);
    mChannelsButton = loadLabelledButton("channels-button.png", u"button_channels");
    mFavoritesButton = loadLabelledButton("fav-button.png", u"button_favourites");

    for (int place = 0; place < IdlePlaceCount; ++place) {
        makeTile(place);
        clutter_actor_add_child(mCarouselGroup, mTiles[place]);
        clutter_actor_add_child(mCarouselGroup, mReflections[place]);
    }
    clutter_actor_set_reactive(mChannelsButton, TRUE);
    clutter_actor_set_reactive(mFavoritesButton, TRUE);

    clutter_actor_add_child(mSceneGroup, mCaption);
    clutter_actor_add_child(mSceneGroup, mFailureCaption);
    clutter_actor_add_child(mSceneGroup, mChannelsButton);
    clutter_actor_add_child(mSceneGroup, mFavoritesButton);

    // Bottom to top: background, scene group, carousel, logo.
    clutter_actor_add_child(mRoot, mBackground);
    clutter_actor_add_child(mRoot, mSceneGroup);
    clutter_actor_add_child(mRoot, mCarouselGroup);
    clutter_actor_add_child(mRoot, mLogo);
    clutter_actor_show_all(mRoot);
    clutter_actor_hide(mFailureCaption);
}

void cIdleScene::makeTile(int place)
{
    const int entry = PlaceToEntry[place];
    cRecent* recent = cRecent::instance();
    ClutterActor* tile = nullptr;
    uint8_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    if (recent->hasEntry(entry) && recent->loadPicture(entry, pixels, width, height)) {
        tile = clutter_texture_new();
        // Pictures are kept as the frames arrive: blue-green-red, bottom
        // row first. The half turn about the x axis shows them upright.
        GError* error = nullptr;
        const gboolean loaded = clutter_texture_set_from_rgb_data(CLUTTER_TEXTURE(tile), pixels, FALSE, width, height,
                                                                  width * 3, 3, CLUTTER_TEXTURE_RGB_FLAG_BGR, &error);
        cRecent::freePicture(pixels);
        if (!loaded) {
            g_clear_error(&error);
            clutter_actor_destroy(tile);
            tile = nullptr;
        } else {
            clutter_actor_set_size(tile, IdleTileSize, IdleTileSize);
            clutter_actor_set_rotation(tile, CLUTTER_X_AXIS, 180.0, 0.0f, 0.0f, 0.0f);
            if (!(cogl_get_features() & COGL_FEATURE_TEXTURE_NPOT)) {
                clutter_texture_set_filter_quality(CLUTTER_TEXTURE(tile), CLUTTER_TEXTURE_QUALITY_LOW);
            }
            mShowsPicture[place] = true;
        }
    }
    if (tile == nullptr) {
        tile = loadSkinTexture("movie.png", IdleTileSize, IdleTileSize);
        clutter_actor_set_size(tile, IdleTileSize, IdleTileSize);
    }
    clutter_actor_set_reactive(tile, TRUE);
    mTiles[place] = tile;

    ClutterActor* reflection = lumivex_texture_reflection_new(CLUTTER_TEXTURE(tile));
    lumivex_texture_reflection_set_reflection_height(LUMIVEX_TEXTURE_REFLECTION(reflection), -30);
    clutter_actor_set_size(reflection, IdleTileSize, IdleTileSize);
    clutter_actor_set_opacity(reflection, 64);
    mReflections[place] = reflection;
}

cIdleScene::~cIdleScene()
{
    if (mFailureTimer != 0) {
        g_source_remove(mFailureTimer);
    }
    for (gulong handler : mHandlers) {
        if (handler != 0) {
            g_signal_handler_disconnect(mRoot, handler);
        }
    }
    // Running effects would outlive their actors' owner; they stop here.
    ClutterActor* const animated[] = {mSceneGroup, mCarouselGroup, mBackground, mLogo, mChannelsButton,
                                      mFavoritesButton, mCaption, mFailureCaption};
    for (ClutterActor* actor : animated) {
        stopEffects(actor);
    }
    for (int place = 0; place < IdlePlaceCount; ++place) {
        stopEffects(mTiles[place]);
        stopEffects(mReflections[place]);
        clutter_actor_destroy(mTiles[place]);
        clutter_actor_destroy(mReflections[place]);
    }
    clutter_actor_destroy(mCaption);
    clutter_actor_destroy(mFailureCaption);
    clutter_actor_destroy(mChannelsButton);
    clutter_actor_destroy(mFavoritesButton);
    clutter_actor_destroy(mSceneGroup);
    clutter_actor_destroy(mCarouselGroup);
    clutter_actor_destroy(mBackground);
    clutter_actor_destroy(mLogo);
    mHoverTimeline.reset();
    mCarouselTimeline.reset();
}

void cIdleScene::placeFrame(float sw, float sh)
{
    float x = 0.0f;
    float y = 0.0f;
    captionPosition(sw, sh, clutter_actor_get_width(mCaption), clutter_actor_get_height(mCaption), x, y);
    clutter_actor_set_position(mCaption, x, y);
    clutter_actor_set_position(mLogo, sw / 2.0f, clutter_actor_get_height(mLogo) / 3.0f);
    clutter_actor_set_position(mChannelsButton, 30.0f, 500.0f);
    clutter_actor_set_position(mFavoritesButton, sw - clutter_actor_get_width(mFavoritesButton) - 30.0f, 500.0f);
    placeFailure(sw, sh);
}

void idleFailurePosition(float stageWidth, float labelWidth, float labelHeight, float captionY, float& x, float& y)
{
    x = std::floor((stageWidth - labelWidth) / 2.0f);
    y = std::floor(captionY - labelHeight - labelHeight / 4.0f);
}

void cIdleScene::placeFailure(float sw, float)
{
    if (!mFailure) {
        return;
    }
    clutter_text_set_text(CLUTTER_TEXT(mFailureCaption), channelFailureText(*mFailure).c_str());
    wrapWithin(mFailureCaption, sw - 2.0f * IdleFailureMargin);
    float x = 0.0f;
    float y = 0.0f;
    idleFailurePosition(sw, clutter_actor_get_width(mFailureCaption), clutter_actor_get_height(mFailureCaption),
                        clutter_actor_get_y(mCaption), x, y);
    clutter_actor_set_position(mFailureCaption, x, y);
}

gboolean cIdleScene::onFailureTimer(gpointer self)
{
    auto* scene = static_cast<cIdleScene*>(self);
    scene->mFailureTimer = 0;
    scene->mFailure.reset();
    clutter_actor_hide(scene->mFailureCaption);
    return G_SOURCE_REMOVE;
}

void cIdleScene::wordsChanged()
{
    if (isLeaving()) {
        return;
    }
    cScene::wordsChanged();
}

void cIdleScene::layOutForStage(float width, float height)
{
    placeFrame(width, height);
    // The tiles glide to the places of the new size.
    setFocus(mFocus);
}

void cIdleScene::show()
{
    const float sw = clutter_actor_get_width(mRoot);
    const float sh = clutter_actor_get_height(mRoot);
    setTitleWord(u"idle_title");

    clutter_actor_set_z_position(mSceneGroup, 100.0f);
    clutter_actor_set_opacity(mSceneGroup, 0);
    clutter_actor_set_scale(mBackground, 1.5, 1.5);
    clutter_actor_set_z_position(mCarouselGroup, 100.0f);

    // Anchored at their centres: the background scales about the stage
    // centre, the logo hangs from the top edge.
    clutter_actor_set_anchor_point_from_gravity(mBackground, CLUTTER_GRAVITY_CENTER);
    clutter_actor_set_position(mBackground, clutter_actor_get_width(mBackground) / 2.0f,
                               clutter_actor_get_height(mBackground) / 2.0f);
    clutter_actor_set_anchor_point_from_gravity(mLogo, CLUTTER_GRAVITY_CENTER);
    // A channel that failed sent the viewer here: say why, for a while.
    mFailure = takeFailureToShow();
    if (mFailure) {
        clutter_actor_show(mFailureCaption);
        mFailureTimer = g_timeout_add(IdleFailureMilliseconds, onFailureTimer, this);
    }
    placeFrame(sw, sh);

    // The carousel starts laid out around the centre place and slides into
    // the remembered focus.
    for (int place = 0; place < IdlePlaceCount; ++place) {
        const sCarouselSlot slot = idleCarouselSlot(place, IdleCentrePlace, sw, sh, IdleTileSize);
        clutter_actor_set_anchor_point(mTiles[place], IdleTileSize / 2.0f, IdleTileSize / 2.0f);
        clutter_actor_set_anchor_point(mReflections[place], IdleTileSize / 2.0f, IdleTileSize / 2.0f);
        clutter_actor_set_position(mTiles[place], slot.x, slot.y);
        clutter_actor_set_position(mReflections[place], slot.x, slot.reflectionY);
        clutter_actor_set_z_position(mTiles[place], slot.depth);
        clutter_actor_set_z_position(mReflections[place], slot.depth);
    }
    setFocus(mFocus);
    followStageSize();

    effectFade(mSceneTemplate, mSceneGroup, 255);
    effectDepth(mSceneTemplate, mSceneGroup, 0.0f);
    effectScale(mSceneTemplate, mBackground, 1.0, 1.0);
    effectDepth(mSceneTemplate, mCarouselGroup, 1.0f);

    mHandlers[0] = g_signal_connect(mRoot, "enter-event", G_CALLBACK(onCrossing), this);
    mHandlers[1] = g_signal_connect(mRoot, "leave-event", G_CALLBACK(onCrossing), this);
    mHandlers[2] = g_signal_connect(mRoot, "button-press-event", G_CALLBACK(onButtonPress), this);
    mHandlers[3] = g_signal_connect(mRoot, "key-release-event", G_CALLBACK(onKeyRelease), this);
    mHandlers[4] = g_signal_connect(mRoot, "scroll-event", G_CALLBACK(onScroll), this);
    mHandlers[5] = g_signal_connect(mRoot, "key-press-event", G_CALLBACK(onKeyPress), this);
}

void cIdleScene::hide()
{
    beginLeaving();
    // The focus is handed on now rather than when the fade has ended: the
    // next scene is built before that, and a player scene resets it.
    rememberedFocus = mFocus;
    effectFade(mSceneTemplate, mSceneGroup, 0, [this] { delete this; });
}

void cIdleScene::setFocus(int n)
{
    mFocus = clampIdleFocus(n);
    mHoverTimeline->stop();
    mCarouselTimeline->start();

    const float sw = clutter_actor_get_width(mRoot);
    const float sh = clutter_actor_get_height(mRoot);
    for (int place = 0; place < IdlePlaceCount; ++place) {
        const float width = clutter_actor_get_width(mTiles[place]);
        const sCarouselSlot slot = idleCarouselSlot(place, mFocus, sw, sh, width);
        effectFade(mCarouselTemplate, mTiles[place], slot.opacity);
        effectFade(mCarouselTemplate, mReflections[place], slot.reflectionOpacity);
        effectMove(mCarouselTemplate, mTiles[place], slot.x, slot.y);
        effectMove(mCarouselTemplate, mReflections[place], slot.x, slot.reflectionY);
        effectDepth(mCarouselTemplate, mTiles[place], slot.depth);
        effectDepth(mCarouselTemplate, mReflections[place], slot.depth);
    }
    stackByDistance();
}

void cIdleScene::stackByDistance()
{
    // The toolkit paints children in their order, whatever their depth:
    // each place goes to the top, farthest first.
    int order[IdlePlaceCount];
    for (int place = 0; place < IdlePlaceCount; ++place) {
        order[place] = place;
    }
    std::stable_sort(std::begin(order), std::end(order),
                     [this](int a, int b) { return std::abs(a - mFocus) > std::abs(b - mFocus); });
    for (int place : order) {
        clutter_actor_set_child_above_sibling(mCarouselGroup, mReflections[place], nullptr);
        clutter_actor_set_child_above_sibling(mCarouselGroup, mTiles[place], nullptr);
    }
}

int cIdleScene::placeOfTile(ClutterActor* actor) const
{
    for (int place = 0; place < IdlePlaceCount; ++place) {
        if (mTiles[place] == actor) {
            return place;
        }
    }
    return -1;
}

// The stage's handlers. Each reads the event's source and says whether the
// event is consumed.
//
//   event          source              action                          consumed
//   enter / leave  either button       depth 10 / 0                    yes
//   enter / leave  tile                depth +10 / -10, unless turning  yes (no while turning)
//   button press   channels button     channel browser                 yes
//   button press   favourites button   favourites scene                yes
//   button press   tile                play its recent channel         yes
//   button press   anything else       nothing                         yes
//   button press   any, once leaving   nothing                         yes
//   scroll         -                   turn, unless animating          yes (no while animating)
//   scroll         - (smooth twin)     nothing                         no
//   key Left/Right -                   turn as a wheel step down/up,
//                                      unless animating                yes
//   key Enter      - (first)           play the centre tile's channel  yes
//   key C          - (first)           channel browser                 yes
//   key V          - (first)           favourites scene                yes
//   key press      any, once leaving   nothing (the scene that
//                                      follows takes it)               no
//   key press      other keys          nothing                         no
//   key release    -                   nothing                         no
//
// "first": the key acts on its first press only, not on the repeats of a
// key held down, so that a held key never acts in the scene that follows.

gboolean cIdleScene::onCrossing(ClutterActor*, ClutterEvent* event, gpointer self)
{
    ClutterActor* source = clutter_event_get_source(event);
    if (source == nullptr) {
        return FALSE;
    }
    return static_cast<cIdleScene*>(self)->handleCrossing(source, clutter_event_type(event) == CLUTTER_ENTER);
}

bool cIdleScene::handleCrossing(ClutterActor* source, bool enter)
{
    if (source == mChannelsButton || source == mFavoritesButton) {
        effectDepth(mSceneTemplate, source, enter ? 10.0f : 0.0f);
        return true;
    }
    const int place = placeOfTile(source);
    if (place < 0 || mCarouselTimeline->isPlaying()) {
        return false;
    }
    mHoverTimeline->start();
    const float step = enter ? 10.0f : -10.0f;
    effectDepth(mHoverTemplate, mTiles[place], clutter_actor_get_z_position(mTiles[place]) + step);
    effectDepth(mHoverTemplate, mReflections[place], clutter_actor_get_z_position(mReflections[place]) + step);
    return true;
}

gboolean cIdleScene::onButtonPress(ClutterActor*, ClutterEvent* event, gpointer self)
{
    ClutterActor* source = clutter_event_get_source(event);
    if (clutter_event_type(event) != CLUTTER_BUTTON_PRESS || source == nullptr) {
        return FALSE;
    }
    return static_cast<cIdleScene*>(self)->handleClick(source);
}

bool cIdleScene::handleClick(ClutterActor* source)
{
    if (isLeaving()) {
        return true;
    }
    if (source == mChannelsButton) {
        requestChannelsScene();
        return true;
    }
    if (source == mFavoritesButton) {
        requestFavoritesScene();
        return true;
    }
    const int place = placeOfTile(source);
    if (place >= 0) {
        // A side tile plays at once, without being centred first.
        playPlace(place);
    }
    return true;
}

void cIdleScene::playPlace(int place)
{
    const int entry = PlaceToEntry[place];
    cRecent* recent = cRecent::instance();
    if (!recent->hasEntry(entry)) {
        return;
    }
    cPlayerDatabase* database = cPlayerDatabase::instance();
    database->setCurrentCountry(recent->entryCountry(entry));
    database->setCurrentType(recent->entryType(entry));
    database->setCurrentName(recent->entryName(entry));
    // The player steps through the recent channels as they stand now,
    // most recent first; playing reorders the list itself, not this copy.
    std::vector<sZapChannel> channels;
    for (int r = 0; recent->hasEntry(r); ++r) {
        channels.push_back({recent->entryCountry(r), recent->entryType(r), recent->entryName(r), -1});
    }
    setZapList(std::move(channels), static_cast<size_t>(entry));
    requestPlayerScene();
}

gboolean cIdleScene::onKeyRelease(ClutterActor*, ClutterEvent*, gpointer)
{
    return FALSE; // keys act on their press
}

gboolean cIdleScene::onKeyPress(ClutterActor*, ClutterEvent* event, gpointer self)
{
    bool consumed = false;
    runGuarded([&] { consumed = static_cast<cIdleScene*>(self)->handleKey(event); });
    return consumed ? TRUE : FALSE;
}

bool cIdleScene::handleKey(const ClutterEvent* event)
{
    if (isLeaving()) {
        return false;
    }
    const sKeyPress key = readKey(event);
    switch (key.key) {
    case eKey::Left:
    case eKey::Right:
        // The places grow to the right: Right brings the right neighbour
        // to the centre, as a wheel step up does.
        turn(key.key == eKey::Right);
        return true;
    case eKey::Enter:
        if (!key.repeated) {
            playPlace(mFocus);
        }
        return true;
    case eKey::C:
        if (!key.repeated) {
            requestChannelsScene();
        }
        return true;
    case eKey::V:
        if (!key.repeated) {
            requestFavoritesScene();
        }
        return true;
    default:
        return false;
    }
}

gboolean cIdleScene::onScroll(ClutterActor*, ClutterEvent* event, gpointer self)
{
    return static_cast<cIdleScene*>(self)->handleScroll(event);
}

bool cIdleScene::handleScroll(const ClutterEvent* event)
{
    // The interface's one wheel rule: a smooth-scroll twin is dropped and
    // left to others, a step up turns towards the higher places.
    switch (wheelStep(event)) {
    case eWheelStep::Up:
        return turn(true);
    case eWheelStep::Down:
        return turn(false);
    case eWheelStep::None:
        break;
    }
    return false;
}

bool cIdleScene::turn(bool up)
{
    if (mCarouselTimeline->isPlaying() || mHoverTimeline->isPlaying()) {
        return false;
    }
    setFocus(up ? mFocus + 1 : mFocus - 1);
    return true;
}
