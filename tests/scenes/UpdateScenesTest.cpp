// The catalogue-update scenes on the real toolkit, in the start-up flow:
// the real catalogue update against an HTTP server on 127.0.0.1 puts the
// update scene on screen, then the database-updated scene follows a new
// catalogue and the home scene an up-to-date one; the database-updated
// scene leaves only through its continue button. Screenshots of both.

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "../catalogue/TestSupport.h"
#include "SceneDriver.h"
#include "app/Effects.h"
#include "app/Scene.h"
#include "app/Stage.h"
#include "catalogue/ChannelFolder.h"
#include "catalogue/PlayerDatabase.h"
#include "kestrel/Unicode.h"
#include "scenes/IdleScene.h"
#include "scenes/Scenes.h"
#include "scenes/UpdateScenes.h"
#include "state/Settings.h"

#include <clutter/clutter-keysyms.h>

namespace {

std::string sceneName(cScene* scene)
{
    if (scene == nullptr) {
        return "none";
    }
    if (dynamic_cast<cUpdateScene*>(scene) != nullptr) {
        return "update";
    }
    if (dynamic_cast<cNewDBScene*>(scene) != nullptr) {
        return "newdb";
    }
    if (dynamic_cast<cIdleScene*>(scene) != nullptr) {
        return "home";
    }
    return "other";
}

class UpdateScenesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(ensureUi()) << uiFailure();
        parkPointer();
        installScenes();
        setCurrentPlayerDestroyer({});
        setPlayChannelProcedure({});
        closeCurrentScene();
        waitForEffectsToEnd();
        mData = std::make_unique<cUserData>();
        mChannels = mData->widePath() + u"/channels/";
        ensureChannelFolder(mChannels);
        testsupport::makeCatalogue(mData->path() + "/catalogue.sqlite",
                                   {{"Chile", "News", "First", "the first", testsupport::plainEncoded("http://a/1")}});
        mCatalogue = testsupport::readBytes(mData->path() + "/catalogue.sqlite");
        mServer.serve("/database", mCatalogue);
        cSettings::instance()->setString(u"server", kestrel::fromUtf8(mServer.address()));
        // Short pauses; the update scene still stays up for a while.
        cUpdateLimits limits;
        limits.networkTimeoutMs = 5000;
        limits.idlePauseMs = 500;
        limits.installedPauseMs = 500;
        mDatabase.setUpdateLimits(limits);
    }

    void TearDown() override
    {
        if (mFlow.joinable()) {
            mFlow.join();
        }
        closeCurrentScene();
        waitForEffectsToEnd();
        mData.reset();
    }

    // The start-up's order: the update (which asks for the update scene
    // first), the database opened, then the first scene.
    void startFlow()
    {
        mFlow = std::thread([this] {
            mDatabase.setUpdateHooks({[] { requestUpdateScene(); }, {}});
            mDatabase.runUpdate(mChannels);
            mOpened = mDatabase.open(mChannels);
            if (mDatabase.isNewCatalogue()) {
                requestNewDBScene();
            } else {
                requestHomeScene();
            }
            mFlowDone = true;
        });
    }

    // Follows the current scene until the flow has made its last request
    // and the scene it asked for is current; returns the scenes seen.
    std::vector<std::string> followScenes()
    {
        std::vector<std::string> seen;
        runMainLoopUntil(
            [&] {
                const std::string now = sceneName(currentScene);
                if (now != "none" && (seen.empty() || seen.back() != now)) {
                    seen.push_back(now);
                }
                return mFlowDone.load() && (now == "home" || now == "newdb");
            },
            20000);
        runMainLoopFor(100); // a late request would show here
        const std::string now = sceneName(currentScene);
        if (seen.empty() || seen.back() != now) {
            seen.push_back(now);
        }
        return seen;
    }

    std::unique_ptr<cUserData> mData;
    std::u16string mChannels;
    std::string mCatalogue;
    testsupport::cTestServer mServer;
    cPlayerDatabase mDatabase;
    std::thread mFlow;
    std::atomic<bool> mFlowDone{false};
    std::atomic<bool> mOpened{false};
};

} // namespace

TEST(BusyIcon, TurnsOnceEveryThreeSeconds)
{
    EXPECT_DOUBLE_EQ(busyIconAngle(0), 0);
    EXPECT_DOUBLE_EQ(busyIconAngle(120), 120);
    EXPECT_DOUBLE_EQ(busyIconAngle(359), 359);
    EXPECT_DOUBLE_EQ(busyIconAngle(360), 0);
}

TEST_F(UpdateScenesTest, AnUpToDateCatalogueShowsTheUpdateSceneThenHome)
{
    testsupport::writeBytes(mData->path() + "/channels/database", mCatalogue);
    cSettings::instance()->setInteger(u"dbversion", 4);
    mServer.serve("/dbversion.php", "4");
    startFlow();
    EXPECT_EQ(followScenes(), (std::vector<std::string>{"update", "home"}));
    EXPECT_TRUE(mOpened);
    EXPECT_STREQ(clutter_stage_get_title(stage()), "Recent channels...");
}

TEST_F(UpdateScenesTest, ANewCatalogueShowsTheUpdatedSceneUntilContinueIsClicked)
{
    mServer.serve("/dbversion.php", "7");
    startFlow();
    EXPECT_EQ(followScenes(), (std::vector<std::string>{"update", "newdb"}));
    EXPECT_TRUE(mOpened);
    EXPECT_STREQ(clutter_stage_get_title(stage()), "Updating");
    auto* scene = dynamic_cast<cNewDBScene*>(currentScene);
    ASSERT_NE(scene, nullptr);
    waitForEffectsToEnd(); // the update scene has gone

    // Clicks elsewhere (the message, the background, the logo) and keys
    // other than Enter change nothing.
    clickAt(400, 300);
    clickAt(50, 50);
    clickAt(400, 20);
    clickAt(200, 528);
    typeKey(CLUTTER_KEY_space);
    typeKey(CLUTTER_KEY_Escape);
    typeKey(CLUTTER_KEY_BackSpace);
    settle();
    runMainLoopFor(200);
    EXPECT_EQ(currentScene, scene);

    // Hovering raises the button.
    crossActor(scene->continueButton(), true);
    settle();
    waitForEffectsToEnd();
    EXPECT_FLOAT_EQ(clutter_actor_get_z_position(scene->continueButton()), 10);
    crossActor(scene->continueButton(), false);
    settle();
    waitForEffectsToEnd();

    clickAt(400, 528);
    settle();
    EXPECT_EQ(sceneName(currentScene), "home");
    EXPECT_STREQ(clutter_stage_get_title(stage()), "Recent channels...");
}

TEST_F(UpdateScenesTest, EnterOnTheUpdatedSceneContinuesOnce)
{
    mServer.serve("/dbversion.php", "7");
    startFlow();
    EXPECT_EQ(followScenes(), (std::vector<std::string>{"update", "newdb"}));
    auto* scene = dynamic_cast<cNewDBScene*>(currentScene);
    ASSERT_NE(scene, nullptr);
    waitForEffectsToEnd();

    // Held down: the first press continues, the repeat that follows finds
    // the home scene and does nothing there.
    pressKey(CLUTTER_KEY_Return);
    settle();
    EXPECT_EQ(sceneName(currentScene), "home");
    cScene* home = currentScene;
    pressKey(CLUTTER_KEY_Return);
    settle();
    releaseKey(CLUTTER_KEY_Return);
    settle();
    runMainLoopFor(100);
    EXPECT_EQ(currentScene, home);
    EXPECT_STREQ(clutter_stage_get_title(stage()), "Recent channels...");
}

TEST_F(UpdateScenesTest, TheUpdateSceneTurnsItsBusyIconAndShowsItsActors)
{
    requestUpdateScene();
    ASSERT_TRUE(runMainLoopUntil([] { return sceneName(currentScene) == "update"; }, 3000));
    auto* scene = dynamic_cast<cUpdateScene*>(currentScene);
    waitForEffectsToEnd();
    EXPECT_STREQ(clutter_stage_get_title(stage()), "Updating");
    EXPECT_STREQ(clutter_text_get_text(CLUTTER_TEXT(scene->caption())), "Updating channels database...");
    EXPECT_EQ(clutter_actor_get_opacity(scene->sceneGroup()), 255);
    float x = 0, y = 0;
    clutter_actor_get_position(scene->busyIcon(), &x, &y);
    EXPECT_FLOAT_EQ(x, 400);
    EXPECT_FLOAT_EQ(y, 300);
    clutter_actor_get_position(scene->logo(), &x, &y);
    EXPECT_FLOAT_EQ(x, 400);
    EXPECT_FLOAT_EQ(y, clutter_actor_get_height(scene->logo()) / 3);
    clutter_actor_get_position(scene->caption(), &x, &y);
    EXPECT_FLOAT_EQ(y, 600 - 4 * clutter_actor_get_height(scene->caption()));

    // The icon turns about its centre, a third of a turn a second.
    const double start = nowMilliseconds();
    const double first = clutter_actor_get_rotation_angle(scene->busyIcon(), CLUTTER_Z_AXIS);
    runMainLoopUntil([&] { return nowMilliseconds() - start >= 500; }, 2000);
    const double second = clutter_actor_get_rotation_angle(scene->busyIcon(), CLUTTER_Z_AXIS);
    const double elapsed = nowMilliseconds() - start;
    const double turned = std::fmod(second - first + 360.0, 360.0);
    EXPECT_NEAR(turned, std::fmod(elapsed * 0.12, 360.0), 30.0);
    float centerX = 0, centerY = 0;
    clutter_actor_get_anchor_point(scene->busyIcon(), &centerX, &centerY);
    EXPECT_FLOAT_EQ(centerX, clutter_actor_get_width(scene->busyIcon()) / 2);

    const sScreenshot shot = takeScreenshot();
    ASSERT_EQ(shot.width, 800);
    keepScreenshot(shot, "update");
    // The busy icon's bars round the centre, its middle clear.
    EXPECT_GT(regionOf(shot, 352, 252, 448, 348).vivid, 300);
    EXPECT_EQ(regionOf(shot, 390, 290, 410, 310).vivid, 0);
    EXPECT_GT(regionOf(shot, 262, 30, 300, 70).blue, 200); // the logo's mark
    EXPECT_GT(regionOf(shot, 250, 520, 550, 570).bright, 40); // the caption
}

TEST_F(UpdateScenesTest, TheUpdatedSceneShowsItsMessageAndButton)
{
    requestNewDBScene();
    ASSERT_TRUE(runMainLoopUntil([] { return sceneName(currentScene) == "newdb"; }, 3000));
    auto* scene = dynamic_cast<cNewDBScene*>(currentScene);
    waitForEffectsToEnd();
    EXPECT_STREQ(clutter_stage_get_title(stage()), "Updating");
    EXPECT_STREQ(clutter_text_get_text(CLUTTER_TEXT(scene->message())),
                 "Database updated successfully. New channels available.");
    EXPECT_TRUE(clutter_text_get_use_markup(CLUTTER_TEXT(scene->message())));
    EXPECT_STREQ(clutter_text_get_font_name(CLUTTER_TEXT(scene->message())), "Verdana 10");
    float x = 0, y = 0;
    clutter_actor_get_position(scene->continueButton(), &x, &y);
    EXPECT_FLOAT_EQ(x, (800 - clutter_actor_get_width(scene->continueButton())) / 2);
    EXPECT_FLOAT_EQ(y, 500);
    clutter_actor_get_position(scene->message(), &x, &y);
    EXPECT_FLOAT_EQ(y, (600 - clutter_actor_get_height(scene->message())) / 2);

    const sScreenshot shot = takeScreenshot();
    ASSERT_EQ(shot.width, 800);
    keepScreenshot(shot, "newdb");
    EXPECT_GT(regionOf(shot, 150, 285, 650, 315).bright, 100); // the message
    const sRegion button = regionOf(shot, 320, 505, 480, 550);
    EXPECT_GT(button.blue, 150); // the bright continue button
    EXPECT_GT(button.bright, 50);
    EXPECT_EQ(regionOf(shot, 320, 470, 480, 497).bright, 0);
    EXPECT_GT(regionOf(shot, 262, 30, 300, 70).blue, 200); // the logo's mark
}
