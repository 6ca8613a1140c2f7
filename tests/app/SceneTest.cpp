// Scene switching on the real main loop: requests from any thread are
// carried out on the main loop in order, the old scene hides and deletes
// itself after its exit animation, placeholders stand in for unregistered
// kinds; the skin path rule and the stand-in for a missing image.

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "app/Effects.h"
#include "app/MainLoop.h"
#include "app/Scene.h"
#include "app/Stage.h"
#include "kestrel/Exception.h"
#include "kestrel/MessageBox.h"
#include "kestrel/System.h"
#include "kestrel/Unicode.h"

namespace {

std::vector<std::string> events;    // main loop only
std::thread::id mainThread;
int liveScenes = 0;                 // main loop only

// A scene that writes down what happens to it and, like every scene,
// deletes itself when its exit fade has ended.
class cRecordingScene : public cScene {
public:
    cRecordingScene(ClutterActor* root, std::string name) : cScene(root), mName(std::move(name))
    {
        events.push_back("construct " + mName + (std::this_thread::get_id() == mainThread ? "" : " off-main"));
        ++liveScenes;
        mActor = clutter_actor_new();
        clutter_actor_add_child(mRoot, mActor);
    }
    ~cRecordingScene() override
    {
        events.push_back("delete " + mName);
        --liveScenes;
        clutter_actor_destroy(mActor);
    }
    void show() override
    {
        events.push_back("show " + mName);
        effectFade(cEffectTemplate(150, AlphaRampInc), mActor, 255);
    }
    void hide() override
    {
        events.push_back("hide " + mName);
        effectFade(cEffectTemplate(150, AlphaRampInc), mActor, 0, [this] { delete this; });
    }
    void busyStart() override
    {
        events.push_back("busy start " + mName + (std::this_thread::get_id() == mainThread ? "" : " off-main"));
    }
    void busyEnd() override { events.push_back("busy end " + mName); }

private:
    std::string mName;
    ClutterActor* mActor;
};

class SceneTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(ensureUi()) << uiFailure();
        mainThread = std::this_thread::get_id();
        registerSceneFactory(SceneHome, [](ClutterActor* root) { return new cRecordingScene(root, "home"); });
        registerSceneFactory(SceneChannels, [](ClutterActor* root) { return new cRecordingScene(root, "channels"); });
        registerSceneFactory(SceneFavorites,
                             [](ClutterActor* root) { return new cRecordingScene(root, "favorites"); });
        registerSceneFactory(SceneUpdate, {});
        registerSceneFactory(SceneNewDB, {});
        setPlayChannelProcedure({});
        setCurrentPlayerDestroyer({});
        closeCurrentScene();
        runMainLoopUntil([] { return liveScenes == 0; }, 3000);
        runMainLoopFor(200); // placeholders of earlier tests fade out too
        events.clear();
    }

    void TearDown() override
    {
        setCurrentPlayerDestroyer({});
        setPlayChannelProcedure({});
        closeCurrentScene();
        runMainLoopFor(300);
    }
};

std::vector<std::string> without(const std::vector<std::string>& all, const std::string& prefix)
{
    std::vector<std::string> kept;
    for (const std::string& event : all) {
        if (event.rfind(prefix, 0) != 0) {
            kept.push_back(event);
        }
    }
    return kept;
}

TEST_F(SceneTest, RequestFromAnotherThreadIsCarriedOutOnTheMainLoop)
{
    std::thread requester([] { requestChannelsScene(); });
    requester.join();
    EXPECT_EQ(currentScene, nullptr); // nothing happens off the main loop
    ASSERT_TRUE(runMainLoopUntil([] { return currentScene != nullptr; }, 3000));
    EXPECT_EQ(events, (std::vector<std::string>{"construct channels", "show channels"}));
}

TEST_F(SceneTest, TwoRequestsCloseTogetherAreCarriedOutInOrder)
{
    requestHomeScene();
    requestFavoritesScene();
    ASSERT_TRUE(runMainLoopUntil([] { return events.size() >= 5; }, 3000));
    // The first scene is already hiding when the second is built; it deletes
    // itself only at the end of its exit animation.
    EXPECT_EQ(events, (std::vector<std::string>{"construct home", "show home", "hide home", "construct favorites",
                                                "show favorites"}));
    EXPECT_EQ(liveScenes, 2);
    ASSERT_TRUE(runMainLoopUntil([] { return liveScenes == 1; }, 3000));
    EXPECT_EQ(events.back(), "delete home");
}

TEST_F(SceneTest, RequestingTheCurrentSceneBuildsASecondInstance)
{
    requestHomeScene();
    ASSERT_TRUE(runMainLoopUntil([] { return currentScene != nullptr; }, 3000));
    cScene* first = currentScene;
    requestHomeScene();
    ASSERT_TRUE(runMainLoopUntil([first] { return currentScene != first && currentScene != nullptr; }, 3000));
    ASSERT_TRUE(runMainLoopUntil([] { return liveScenes == 1; }, 3000));
    EXPECT_EQ(events, (std::vector<std::string>{"construct home", "show home", "hide home", "construct home",
                                                "show home", "delete home"}));
}

TEST_F(SceneTest, SwitchDestroysTheCurrentPlayerFirst)
{
    setCurrentPlayerDestroyer([] { events.push_back("destroy player"); });
    requestHomeScene();
    ASSERT_TRUE(runMainLoopUntil([] { return currentScene != nullptr; }, 3000));
    requestChannelsScene();
    ASSERT_TRUE(runMainLoopUntil([] { return events.size() >= 7; }, 3000));
    EXPECT_EQ(events, (std::vector<std::string>{"destroy player", "construct home", "show home", "destroy player",
                                                "hide home", "construct channels", "show channels"}));
}

TEST_F(SceneTest, UpdateRequestsDestroyThePlayerOnTheCallingThreadAndShowAPlaceholder)
{
    std::atomic<int> offMain{0};
    std::atomic<int> onMain{0};
    setCurrentPlayerDestroyer([&] { (std::this_thread::get_id() == mainThread ? onMain : offMain)++; });
    std::thread requester([] { requestUpdateScene(); });
    requester.join();
    EXPECT_EQ(offMain.load(), 1);
    EXPECT_EQ(onMain.load(), 0);
    ASSERT_TRUE(runMainLoopUntil([] { return currentScene != nullptr; }, 3000));
    EXPECT_EQ(onMain.load(), 1); // the switch looks again and finds none in real use
    EXPECT_STREQ(clutter_stage_get_title(stage()), "Updating");

    requestNewDBScene();
    EXPECT_EQ(onMain.load(), 2);
    cScene* update = currentScene;
    ASSERT_TRUE(runMainLoopUntil([update] { return currentScene != update; }, 3000));
    EXPECT_STREQ(clutter_stage_get_title(stage()), "Updating");
    EXPECT_TRUE(events.empty()); // placeholders only
}

TEST_F(SceneTest, PlaceholderTitlesName)
{
    EXPECT_STREQ(sceneTitle(SceneHome), "Recent channels...");
    EXPECT_STREQ(sceneTitle(SceneChannels), "Select channel...");
    EXPECT_STREQ(sceneTitle(SceneFavorites), "Favorite channels");
    EXPECT_STREQ(sceneTitle(SceneUpdate), "Updating");
    EXPECT_STREQ(sceneTitle(SceneNewDB), "Updating");
}

TEST_F(SceneTest, PlayerSceneRequestRunsTheProcedureOrFallsBackToHome)
{
    requestPlayerScene();
    ASSERT_TRUE(runMainLoopUntil([] { return currentScene != nullptr; }, 3000));
    EXPECT_EQ(events, (std::vector<std::string>{"construct home", "show home"}));

    events.clear();
    std::thread::id ranOn;
    setPlayChannelProcedure([&] {
        ranOn = std::this_thread::get_id();
        closeCurrentScene();
        presentScene(new cRecordingScene(stageActor(), "player"));
    });
    std::thread requester([] { requestPlayerScene(); });
    requester.join();
    ASSERT_TRUE(runMainLoopUntil([] { return events.size() >= 3; }, 3000));
    EXPECT_EQ(ranOn, mainThread);
    EXPECT_EQ(events, (std::vector<std::string>{"hide home", "construct player", "show player"}));
}

TEST_F(SceneTest, BusyNotificationsReachTheCurrentSceneOnTheMainLoop)
{
    std::thread early([] { notifyBusyStart(); }); // no scene yet: nothing happens
    early.join();
    runMainLoopFor(50);
    EXPECT_TRUE(events.empty());

    requestHomeScene();
    ASSERT_TRUE(runMainLoopUntil([] { return currentScene != nullptr; }, 3000));
    std::thread worker([] {
        notifyBusyStart();
        notifyBusyEnd();
    });
    worker.join();
    ASSERT_TRUE(runMainLoopUntil([] { return events.size() >= 4; }, 3000));
    EXPECT_EQ(without(events, "construct"),
              (std::vector<std::string>{"show home", "busy start home", "busy end home"}));
}

TEST_F(SceneTest, FailingSceneIsReportedAndEndsTheRun)
{
    std::vector<std::string> boxes;
    kestrel::setMessageBoxPresenter(
        [&](const std::string& caption, const std::string& text) { boxes.push_back(caption + "|" + text); });
    registerSceneFactory(SceneChannels, [](ClutterActor*) -> cScene* {
        throw kestrel::cFileIOException(u"Can't read from file", u"/missing/file");
    });
    requestChannelsScene();
    ASSERT_TRUE(runMainLoopUntil([&] { return !boxes.empty(); }, 3000));
    kestrel::setMessageBoxPresenter({});
    EXPECT_EQ(boxes, (std::vector<std::string>{"Application exception|Can't read from file: /missing/file"}));
    EXPECT_TRUE(hasRunFailed());
    EXPECT_EQ(currentScene, nullptr);
}

TEST(SkinPathTest, ApplicationFolderThenFolderSlashFileName)
{
    const std::string applicationFolder = kestrel::toUtf8(kestrel::cSystem::getApplicationPath());
    ASSERT_EQ(applicationFolder.back(), '/');
    const char* first = skinPath("list-bg.png", "skin");
    EXPECT_EQ(std::string(first), applicationFolder + "skin/list-bg.png");
    const char* second = skinPath("orb.png", "skin");
    EXPECT_EQ(first, second); // one shared buffer ...
    EXPECT_EQ(std::string(first), applicationFolder + "skin/orb.png"); // ... holding only the newer path
}

TEST(SkinPathTest, LongNamesAreCutToTheBuffer)
{
    const std::string longName(5000, 'a');
    const char* path = skinPath(longName.c_str(), "skin");
    EXPECT_EQ(std::strlen(path), 4095u);
}

class TextureTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(ensureUi()) << uiFailure();
    }
};

TEST_F(TextureTest, MissingSkinImageGetsAVisibleStandInOfTheExpectedSize)
{
    ClutterActor* texture = loadSkinTexture("no-such-image.png", 120.0f, 40.0f);
    ASSERT_NE(texture, nullptr);
    ASSERT_TRUE(CLUTTER_IS_TEXTURE(texture));
    EXPECT_EQ(clutter_actor_get_width(texture), 120.0f);
    EXPECT_EQ(clutter_actor_get_height(texture), 40.0f);
    CoglHandle cogl = clutter_texture_get_cogl_texture(CLUTTER_TEXTURE(texture));
    ASSERT_TRUE(cogl != COGL_INVALID_HANDLE);
    std::vector<guchar> pixels(120 * 40 * 4);
    ASSERT_EQ(cogl_texture_get_data(cogl, COGL_PIXEL_FORMAT_RGBA_8888, 120 * 4, pixels.data()),
              static_cast<int>(pixels.size()));
    const guchar* middle = &pixels[(20 * 120 + 60) * 4];
    EXPECT_EQ(middle[0], 0x80);
    EXPECT_EQ(middle[1], 0x80);
    EXPECT_EQ(middle[2], 0x80);
    EXPECT_EQ(middle[3], 0xFF);
    clutter_actor_destroy(texture);

    // No usable size: still a small visible square.
    texture = loadSkinTexture("no-such-image.png", 0.0f, -5.0f);
    EXPECT_EQ(clutter_actor_get_width(texture), 32.0f);
    EXPECT_EQ(clutter_actor_get_height(texture), 32.0f);
    clutter_actor_destroy(texture);
}

TEST_F(TextureTest, ExistingImageLoadsAtItsOwnSize)
{
    const std::string icon = kestrel::toUtf8(kestrel::cSystem::getApplicationPath()) + "icons/lumivex-48.png";
    ClutterActor* texture = loadTextureFile(icon.c_str(), 10.0f, 10.0f);
    ASSERT_TRUE(CLUTTER_IS_TEXTURE(texture));
    EXPECT_EQ(clutter_actor_get_width(texture), 48.0f);
    EXPECT_EQ(clutter_actor_get_height(texture), 48.0f);
    clutter_actor_destroy(texture);
}

} // namespace
