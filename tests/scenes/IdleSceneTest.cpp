// The home scene on the real toolkit: the place-to-entry table with a recent
// list read from real files, the carousel's opacities and depths, the
// wheel, hover and click rules driven through the toolkit's event path, the
// remembered focus, and a screenshot checked for its actors.

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "SceneDriver.h"
#include "app/Effects.h"
#include "app/Scene.h"
#include "app/Stage.h"
#include "catalogue/PlayerDatabase.h"
#include "state/Recent.h"
#include "kestrel/System.h"
#include "kestrel/Unicode.h"
#include "scenes/FailureText.h"
#include "state/Language.h"
#include "scenes/IdleScene.h"
#include "scenes/Scenes.h"

namespace {

struct sPlayed {
    std::u16string country, type, name;
};

// Stands in for the player scene the play-channel procedure builds: like
// it, it puts the home scene's remembered focus back on the centre.
class cPlayerStandIn : public cScene {
public:
    explicit cPlayerStandIn(ClutterActor* root) : cScene(root)
    {
        resetRememberedIdleFocus();
        mActor = clutter_actor_new();
        clutter_actor_add_child(mRoot, mActor);
    }
    ~cPlayerStandIn() override { clutter_actor_destroy(mActor); }
    void show() override { clutter_stage_set_title(stage(), "Player"); }
    void hide() override
    {
        effectFade(cEffectTemplate(100, AlphaRampInc), mActor, 0, [this] { delete this; });
    }

private:
    ClutterActor* mActor;
};

class IdleSceneTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(ensureUi()) << uiFailure();
        parkPointer();
        installScenes();
        setCurrentPlayerDestroyer({});
        setPlayChannelProcedure([this] {
            cPlayerDatabase* database = cPlayerDatabase::instance();
            mPlayed.push_back({database->currentCountry(), database->currentType(), database->currentName()});
            if (mBeforeSwitch) {
                mBeforeSwitch();
            }
            closeCurrentScene();
            presentScene(new cPlayerStandIn(stageActor()));
        });
        closeCurrentScene();
        waitForEffectsToEnd();
        resetRememberedIdleFocus();
        mData = std::make_unique<cUserData>();
    }

    void TearDown() override
    {
        closeCurrentScene();
        waitForEffectsToEnd();
        setPlayChannelProcedure({});
        resetRememberedIdleFocus();
        mData.reset();
    }

    // Three recent channels: entry 0 (watched last) red above blue, entry 1
    // green, entry 2 yellow.
    void writeThreeEntries()
    {
        mData->writeRecent({
            {"Ireland", "Third", "Music", makePicture(64, 48, {255, 255, 0}, {255, 255, 0}), 64, 48},
            {"Norway", "Second", "Sport", makePicture(64, 48, {0, 255, 0}, {0, 255, 0}), 64, 48},
            {"Chile", "First", "News", makePicture(64, 48, {255, 0, 0}, {0, 0, 255}), 64, 48},
        });
    }

    // Requests the home scene and waits until it is shown and every
    // animation (also the previous scene's exit) has ended.
    cIdleScene* showHome()
    {
        requestHomeScene();
        runMainLoopUntil([] { return dynamic_cast<cIdleScene*>(currentScene) != nullptr; }, 3000);
        auto* home = dynamic_cast<cIdleScene*>(currentScene);
        waitForEffectsToEnd();
        return home;
    }

    // A point on the tile of the place that no nearer tile covers: half
    // way up its outer edge, as the perspective shows it.
    static void pointOnTile(cIdleScene* home, int place, float& x, float& y)
    {
        const float edge = place < home->focus() ? 6.0f : (place > home->focus() ? 250.0f : 128.0f);
        const ClutterVertex local = {edge, 128.0f, 0.0f};
        ClutterVertex onStage = {0.0f, 0.0f, 0.0f};
        clutter_actor_apply_transform_to_point(home->tile(place), &local, &onStage);
        x = onStage.x;
        y = onStage.y;
    }

    void clickTile(cIdleScene* home, int place)
    {
        float x = 0, y = 0;
        pointOnTile(home, place, x, y);
        clickAt(x, y);
        settle();
    }

    void scroll(ClutterScrollDirection direction)
    {
        scrollAt(400.0f, 300.0f, direction);
        settle();
    }

    std::unique_ptr<cUserData> mData;
    std::vector<sPlayed> mPlayed;
    // Runs in the play procedure, while the scene that asked is still
    // current and alive.
    std::function<void()> mBeforeSwitch;
};

} // namespace

TEST(IdleLayout, PlaceToEntryTable)
{
    const int expected[IdlePlaceCount] = {9, 7, 5, 3, 1, 0, 2, 4, 6, 8, 10};
    for (int place = 0; place < IdlePlaceCount; ++place) {
        EXPECT_EQ(idleEntryForPlace(place), expected[place]) << place;
        EXPECT_EQ(idlePlaceForEntry(expected[place]), place);
    }
    EXPECT_EQ(idleEntryForPlace(-1), -1);
    EXPECT_EQ(idleEntryForPlace(11), -1);
    EXPECT_EQ(idlePlaceForEntry(11), -1);
}

TEST(IdleLayout, SlotsSinkAndFadeWithDistance)
{
    struct sCase {
        int place, focus;
        float x, depth;
        int opacity, reflectionOpacity;
    };
    const sCase cases[] = {
        {5, 5, 400, 0, 255, 64},   {4, 5, 144, -300, 225, 56},   {6, 5, 656, -300, 225, 56},
        {8, 0, 2448, -2400, 15, 0}, {10, 0, 2960, -3000, 0, 0}, {0, 10, -2160, -3000, 0, 0},
        {9, 1, 2448, -2400, 15, 0},
    };
    for (const sCase& c : cases) {
        const sCarouselSlot slot = idleCarouselSlot(c.place, c.focus, 800, 600, 256);
        EXPECT_FLOAT_EQ(slot.x, c.x) << c.place << " " << c.focus;
        EXPECT_FLOAT_EQ(slot.y, 300);
        EXPECT_FLOAT_EQ(slot.reflectionY, 300 + 256 + 5);
        EXPECT_FLOAT_EQ(slot.depth, c.depth);
        EXPECT_EQ(slot.opacity, c.opacity) << c.place << " " << c.focus;
        EXPECT_EQ(slot.reflectionOpacity, c.reflectionOpacity) << c.place << " " << c.focus;
    }
    EXPECT_EQ(clampIdleFocus(-3), 0);
    EXPECT_EQ(clampIdleFocus(11), 10);
    float x = 0, y = 0;
    captionPosition(800, 600, 120, 17, x, y);
    EXPECT_FLOAT_EQ(x, 340);
    EXPECT_FLOAT_EQ(y, 600 - 4 * 17);
}

TEST_F(IdleSceneTest, ThreeRecentEntriesFillThePlacesAroundTheCentre)
{
    writeThreeEntries();
    cIdleScene* home = showHome();
    ASSERT_NE(home, nullptr);
    EXPECT_STREQ(clutter_stage_get_title(stage()), "Recent channels...");
    EXPECT_STREQ(clutter_text_get_text(CLUTTER_TEXT(home->caption())), "Recent channels");
    EXPECT_EQ(home->focus(), 5);
    for (int place = 0; place < IdlePlaceCount; ++place) {
        EXPECT_EQ(home->showsPicture(place), place == 4 || place == 5 || place == 6) << place;
        EXPECT_FLOAT_EQ(clutter_actor_get_width(home->tile(place)), 256);
        EXPECT_FLOAT_EQ(clutter_actor_get_height(home->tile(place)), 256);
        EXPECT_EQ(clutter_actor_get_opacity(home->tile(place)), 255 - 30 * std::abs(place - 5));
    }

    // Where the scene puts its actors on the 800 x 600 stage.
    float x = 0, y = 0;
    clutter_actor_get_position(home->tile(5), &x, &y);
    EXPECT_FLOAT_EQ(x, 400);
    EXPECT_FLOAT_EQ(y, 300);
    clutter_actor_get_position(home->reflection(5), &x, &y);
    EXPECT_FLOAT_EQ(y, 300 + 256 + 5);
    clutter_actor_get_position(home->channelsButton(), &x, &y);
    EXPECT_FLOAT_EQ(x, 30);
    EXPECT_FLOAT_EQ(y, 500);
    clutter_actor_get_position(home->favoritesButton(), &x, &y);
    EXPECT_FLOAT_EQ(x, 800 - clutter_actor_get_width(home->favoritesButton()) - 30);
    EXPECT_FLOAT_EQ(y, 500);
    clutter_actor_get_position(home->logo(), &x, &y);
    EXPECT_FLOAT_EQ(x, 400);
    EXPECT_FLOAT_EQ(y, clutter_actor_get_height(home->logo()) / 3);
    double scaleX = 0, scaleY = 0;
    clutter_actor_get_scale(home->background(), &scaleX, &scaleY);
    EXPECT_DOUBLE_EQ(scaleX, 1.0);

    // The picture: the first entry's red upper half above its blue lower
    // half (blue-green-red rows, bottom first, turned upright); green and
    // yellow beside it; the logo's mark at the top centre and the buttons
    // standing at y 500, drawn from the skin.
    const sScreenshot shot = takeScreenshot();
    ASSERT_EQ(shot.width, 800);
    keepScreenshot(shot, "home");
    const sRegion upper = regionOf(shot, 380, 200, 420, 240);
    EXPECT_GT(upper.red, 200);
    EXPECT_LT(upper.blue, 60);
    const sRegion lower = regionOf(shot, 380, 360, 420, 400);
    EXPECT_GT(lower.blue, 200);
    EXPECT_LT(lower.red, 60);
    // Its reflection mirrors the blue bottom edge the viewer sees.
    const sRegion mirrored = regionOf(shot, 380, 435, 420, 445);
    EXPECT_GT(mirrored.blue, mirrored.red + 20);
    float side = 0, middle = 0;
    pointOnTile(home, 4, side, middle);
    const sRegion left = regionOf(shot, int(side) + 2, 290, int(side) + 22, 310);
    EXPECT_GT(left.green, 150);
    EXPECT_LT(left.red, 60);
    pointOnTile(home, 6, side, middle);
    const sRegion right = regionOf(shot, int(side) - 22, 290, int(side) - 2, 310);
    EXPECT_GT(right.red, 150);
    EXPECT_GT(right.green, 150);
    EXPECT_LT(right.blue, 60);
    // The logo's mark, a cyan-to-violet square left of the name.
    const sRegion mark = regionOf(shot, 262, 30, 300, 70);
    EXPECT_GT(mark.blue, 200);
    EXPECT_GT(mark.blue, mark.red + 40);
    // The name in white beside it.
    EXPECT_GT(regionOf(shot, 330, 20, 580, 70).bright, 200);
    // The buttons: a bluish face with a white label, nothing of them above
    // y 500.
    for (float buttonX : {30.0f, 800.0f - clutter_actor_get_width(home->favoritesButton()) - 30.0f}) {
        const sRegion face = regionOf(shot, int(buttonX) + 10, 505, int(buttonX) + 170, 550);
        EXPECT_GT(face.bright, 100) << buttonX;
        EXPECT_GT(face.blue, face.red) << buttonX;
        EXPECT_EQ(regionOf(shot, int(buttonX) + 10, 480, int(buttonX) + 170, 497).bright, 0) << buttonX;
    }
}

TEST_F(IdleSceneTest, AnEmptyRecentListShowsElevenPlaceholdersAndClicksDoNothing)
{
    cIdleScene* home = showHome();
    ASSERT_NE(home, nullptr);
    for (int place = 0; place < IdlePlaceCount; ++place) {
        EXPECT_FALSE(home->showsPicture(place));
    }
    clickTile(home, 5);
    clickTile(home, 4);
    EXPECT_TRUE(mPlayed.empty());
    EXPECT_EQ(currentScene, home);
}

TEST_F(IdleSceneTest, FarPlacesFadeOut)
{
    cIdleScene* home = showHome();
    ASSERT_NE(home, nullptr);
    home->setFocus(0);
    waitForEffectsToEnd();
    EXPECT_EQ(clutter_actor_get_opacity(home->tile(8)), 15);
    EXPECT_EQ(clutter_actor_get_opacity(home->reflection(8)), 0);
    EXPECT_EQ(clutter_actor_get_opacity(home->tile(10)), 0);
    EXPECT_EQ(clutter_actor_get_opacity(home->reflection(10)), 0);
    EXPECT_EQ(clutter_actor_get_opacity(home->tile(0)), 255);
    EXPECT_EQ(clutter_actor_get_opacity(home->reflection(0)), 64);
    EXPECT_FLOAT_EQ(clutter_actor_get_z_position(home->tile(8)), -2400);
    float x = 0, y = 0;
    clutter_actor_get_position(home->tile(0), &x, &y);
    EXPECT_FLOAT_EQ(x, 400);
}

TEST_F(IdleSceneTest, TheWheelTurnsOnePlaceAndStopsAtTheEnds)
{
    cIdleScene* home = showHome();
    ASSERT_NE(home, nullptr);
    scroll(CLUTTER_SCROLL_UP);
    EXPECT_EQ(home->focus(), 6);
    waitForEffectsToEnd();
    scroll(CLUTTER_SCROLL_DOWN);
    EXPECT_EQ(home->focus(), 5);
    waitForEffectsToEnd();

    home->setFocus(10);
    waitForEffectsToEnd();
    ASSERT_FALSE(home->isCarouselTurning());
    scrollAt(400, 300, CLUTTER_SCROLL_UP);
    // The animation plays again.
    EXPECT_TRUE(runMainLoopUntil([home] { return home->isCarouselTurning(); }, 2000));
    EXPECT_EQ(home->focus(), 10);
    waitForEffectsToEnd();
    home->setFocus(0);
    waitForEffectsToEnd();
    scroll(CLUTTER_SCROLL_DOWN);
    EXPECT_EQ(home->focus(), 0);
}

TEST_F(IdleSceneTest, WheelStepsDuringAnAnimationAreDropped)
{
    cIdleScene* home = showHome();
    ASSERT_NE(home, nullptr);
    // Both steps are dispatched together; the second meets the turning
    // carousel.
    scrollAt(400, 300, CLUTTER_SCROLL_UP);
    scrollAt(400, 300, CLUTTER_SCROLL_UP);
    settle();
    EXPECT_EQ(home->focus(), 6);
    waitForEffectsToEnd();

    // The same while a tile rises under the pointer.
    crossActor(home->tile(6), true);
    scrollAt(400, 300, CLUTTER_SCROLL_UP);
    settle();
    EXPECT_EQ(home->focus(), 6);
    waitForEffectsToEnd();
    scroll(CLUTTER_SCROLL_UP);
    EXPECT_EQ(home->focus(), 7);
}

TEST_F(IdleSceneTest, HoverRaisesButtonsAndTiles)
{
    cIdleScene* home = showHome();
    ASSERT_NE(home, nullptr);
    crossActor(home->channelsButton(), true);
    settle();
    waitForEffectsToEnd();
    EXPECT_FLOAT_EQ(clutter_actor_get_z_position(home->channelsButton()), 10);
    crossActor(home->channelsButton(), false);
    settle();
    waitForEffectsToEnd();
    EXPECT_FLOAT_EQ(clutter_actor_get_z_position(home->channelsButton()), 0);

    crossActor(home->tile(4), true);
    settle();
    waitForEffectsToEnd();
    EXPECT_FLOAT_EQ(clutter_actor_get_z_position(home->tile(4)), -290);
    EXPECT_FLOAT_EQ(clutter_actor_get_z_position(home->reflection(4)), -290);
    crossActor(home->tile(4), false);
    settle();
    waitForEffectsToEnd();
    EXPECT_FLOAT_EQ(clutter_actor_get_z_position(home->tile(4)), -300);
}

TEST_F(IdleSceneTest, AClickOnASideTilePlaysItsChannelWithoutCentringIt)
{
    writeThreeEntries();
    cIdleScene* home = showHome();
    ASSERT_NE(home, nullptr);
    float before = 0, y = 0;
    clutter_actor_get_position(home->tile(6), &before, &y);
    // The home scene deletes itself at the end of its fade, which a loaded
    // machine may reach before the click has settled: what the test needs
    // of it is read while it still stands, as the channel starts.
    int focusAtPlay = -1;
    float after = 0;
    mBeforeSwitch = [&] {
        focusAtPlay = home->focus();
        clutter_actor_get_position(home->tile(6), &after, &y);
    };

    clickTile(home, 6);
    mBeforeSwitch = {};
    ASSERT_EQ(mPlayed.size(), 1u);
    EXPECT_EQ(mPlayed[0].country, u"Ireland");
    EXPECT_EQ(mPlayed[0].type, u"Music");
    EXPECT_EQ(mPlayed[0].name, u"Third");
    EXPECT_STREQ(clutter_stage_get_title(stage()), "Player");
    // The carousel did not turn towards the tile.
    EXPECT_EQ(focusAtPlay, 5);
    EXPECT_FLOAT_EQ(after, before);
}

// A picture file that cannot be read (cut short by a full disk, say)
// shows the placeholder; the tile still plays its channel.
TEST_F(IdleSceneTest, AnUnreadablePictureShowsThePlaceholderAndStillPlays)
{
    writeThreeEntries();
    const std::string picture = kestrel::toUtf8(cRecent::instance()->entry(0).picturePath);
    {
        std::ofstream cut(picture, std::ios::binary | std::ios::trunc);
        cut << std::string("\x40\x00\x00\x00\x30\x00\x00\x00\xff", 9);
    }
    cIdleScene* home = showHome();
    ASSERT_NE(home, nullptr);
    EXPECT_FALSE(home->showsPicture(5));
    EXPECT_TRUE(home->showsPicture(4));
    EXPECT_TRUE(home->showsPicture(6));
    clickTile(home, 5);
    ASSERT_EQ(mPlayed.size(), 1u);
    EXPECT_EQ(mPlayed[0].name, u"First");
    EXPECT_EQ(mPlayed[0].country, u"Chile");
}

TEST_F(IdleSceneTest, AClickOnAnEmptyPlaceDoesNothing)
{
    writeThreeEntries();
    cIdleScene* home = showHome();
    ASSERT_NE(home, nullptr);
    clickTile(home, 7);
    clickTile(home, 3);
    clickAt(400, 580); // a reflection, which is not reactive
    settle();
    EXPECT_TRUE(mPlayed.empty());
    EXPECT_EQ(currentScene, home);
    EXPECT_STREQ(clutter_stage_get_title(stage()), "Recent channels...");
}

TEST_F(IdleSceneTest, TheFocusOutlivesOtherScenesButNotAPlayback)
{
    writeThreeEntries();
    cIdleScene* home = showHome();
    ASSERT_NE(home, nullptr);
    scroll(CLUTTER_SCROLL_DOWN);
    waitForEffectsToEnd();
    scroll(CLUTTER_SCROLL_DOWN);
    waitForEffectsToEnd();
    ASSERT_EQ(home->focus(), 3);

    // The buttons lead to the browser and the favourites.
    clickAt(30 + 90, 528);
    settle();
    EXPECT_STREQ(clutter_stage_get_title(stage()), "Select channel...");
    home = showHome();
    ASSERT_NE(home, nullptr);
    EXPECT_EQ(home->focus(), 3);
    EXPECT_EQ(clutter_actor_get_opacity(home->tile(3)), 255);

    clickAt(800 - 30 - 90, 528);
    settle();
    EXPECT_STREQ(clutter_stage_get_title(stage()), "Favorite channels");
    home = showHome();
    ASSERT_NE(home, nullptr);
    EXPECT_EQ(home->focus(), 3);

    clickTile(home, 5);
    ASSERT_EQ(mPlayed.size(), 1u);
    EXPECT_EQ(mPlayed[0].name, u"First");
    waitForEffectsToEnd();
    home = showHome();
    ASSERT_NE(home, nullptr);
    EXPECT_EQ(home->focus(), 5);
}

TEST_F(IdleSceneTest, KeysTurnTheCarouselPlayTheCentreAndLeadOn)
{
    writeThreeEntries();
    cIdleScene* home = showHome();
    ASSERT_NE(home, nullptr);
    // One row per key, in order, each from where the last left the home
    // scene; a key that leads away is followed by a new home scene.
    struct sStep {
        guint key;
        const char* title; // the stage's title after the key
        int focus;         // the home scene's focus (after coming back)
        const char16_t* played; // the channel played, or null
    };
    const sStep steps[] = {
        {CLUTTER_KEY_Right, "Recent channels...", 6, nullptr},
        {CLUTTER_KEY_Left, "Recent channels...", 5, nullptr},
        {CLUTTER_KEY_KP_Left, "Recent channels...", 4, nullptr},
        {CLUTTER_KEY_space, "Recent channels...", 4, nullptr},
        {CLUTTER_KEY_Escape, "Recent channels...", 4, nullptr},
        {CLUTTER_KEY_Return, "Player", 5, u"Second"}, // playing centres again
        {CLUTTER_KEY_c, "Select channel...", 5, nullptr},
        {CLUTTER_KEY_V, "Favorite channels", 5, nullptr},
        {CLUTTER_KEY_Right, "Recent channels...", 6, nullptr},
        {CLUTTER_KEY_KP_Enter, "Player", 5, u"Third"},
    };
    for (const sStep& step : steps) {
        SCOPED_TRACE(step.title);
        const size_t playedBefore = mPlayed.size();
        typeKey(step.key);
        settle();
        waitForEffectsToEnd();
        EXPECT_STREQ(clutter_stage_get_title(stage()), step.title);
        if (step.played != nullptr) {
            ASSERT_EQ(mPlayed.size(), playedBefore + 1);
            EXPECT_EQ(mPlayed.back().name, step.played);
        } else {
            EXPECT_EQ(mPlayed.size(), playedBefore);
        }
        if (currentScene != home) {
            home = showHome();
            ASSERT_NE(home, nullptr);
        }
        EXPECT_EQ(home->focus(), step.focus);
    }
}

// Full screen carried out by a window manager resizes the stage after the
// request: the home scene lays itself out again for the new size (the
// carousel glides to the new centre), and back.
TEST_F(IdleSceneTest, TheHomeSceneLaysOutAgainWhenTheStageIsResized)
{
    writeThreeEntries();
    cIdleScene* home = showHome();
    ASSERT_NE(home, nullptr);
    for (const float width : {1024.0f, 800.0f}) {
        SCOPED_TRACE(width);
        const float height = width * 0.75f;
        clutter_actor_set_size(stageActor(), width, height);
        ASSERT_TRUE(runMainLoopUntil([&] { return clutter_actor_get_width(stageActor()) == width; }, 3000));
        runMainLoopFor(100);
        waitForEffectsToEnd();
        EXPECT_FLOAT_EQ(clutter_actor_get_x(home->logo()), width / 2.0f);
        EXPECT_FLOAT_EQ(clutter_actor_get_x(home->favoritesButton()),
                        width - clutter_actor_get_width(home->favoritesButton()) - 30.0f);
        const sCarouselSlot centre = idleCarouselSlot(5, 5, width, height, IdleTileSize);
        EXPECT_FLOAT_EQ(clutter_actor_get_x(home->tile(5)), centre.x);
        EXPECT_FLOAT_EQ(clutter_actor_get_y(home->tile(5)), centre.y);
    }
}

// Every kind of failure has its own words, in English and in the loaded
// language, with the HTTP status or the missing format where it has one.
TEST_F(IdleSceneTest, EveryKindOfFailureHasItsWordsInTheLoadedLanguage)
{
    using F = sPlayFailure;
    struct {
        F::eKind kind;
        int status;
        const char* format;
        const char* english;
        const char* french;
    } cases[] = {
        {F::KindHostUnknown, 0, "", "the server's name could not be found", "le nom du serveur est introuvable"},
        {F::KindRefused, 0, "", "the server refused the connection", "le serveur a refus\u00e9 la connexion"},
        {F::KindNoAnswer, 0, "", "the server did not answer in time", "le serveur n'a pas r\u00e9pondu \u00e0 temps"},
        {F::KindHttpStatus, 403, "", "the server answered with error 403", "le serveur a r\u00e9pondu par l'erreur 403"},
        {F::KindSecureConnection, 0, "", "the secure connection failed", "la connexion s\u00e9curis\u00e9e a \u00e9chou\u00e9"},
        {F::KindNotAllowed, 0, "", "the address is not allowed", "l'adresse n'est pas autoris\u00e9e"},
        {F::KindUnsupportedFormat, 0, "", "the stream's format is not supported",
         "le format du flux n'est pas pris en charge"},
        {F::KindUnsupportedFormat, 0, "H.265 decoder", "the stream's format is not supported (missing: H.265 decoder)",
         "le format du flux n'est pas pris en charge (manquant : H.265 decoder)"},
        {F::KindStreamEnded, 0, "", "the stream ended", "le flux s'est termin\u00e9"},
        {F::KindNotOpened, 0, "", "the stream could not be opened", "le flux n'a pas pu \u00eatre ouvert"},
    };
    const std::u16string applicationFolder = kestrel::cSystem::getApplicationPath();
    for (const bool french : {false, true}) {
        clearLanguage();
        if (french) {
            ASSERT_TRUE(loadLanguage(languageFilePath(applicationFolder, u"french")));
        }
        for (const auto& c : cases) {
            F failure;
            failure.kind = c.kind;
            failure.httpStatus = c.status;
            failure.format = c.format;
            const std::string reason = french ? c.french : c.english;
            SCOPED_TRACE(reason);
            EXPECT_EQ(failureReasonText(failure), reason);
            EXPECT_EQ(channelFailureText(sChannelFailure{u"News 24", failure}),
                      std::string("News 24 ") + (french ? "ne se lit pas : " : "does not play: ") + reason);
        }
    }
    clearLanguage();
}
