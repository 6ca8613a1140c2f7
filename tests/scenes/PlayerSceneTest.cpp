// The player scene on the real toolkit, built by the real play-channel
// procedure for channels of a real catalogue whose clips are made by the
// test and served from a loopback HTTP server: the layout windowed and in
// full screen, the upright picture and its reflection on a screenshot, the
// zoom, the controls' fade and time-out, the stage handlers' table, the
// volume, the favourites, the busy icon and the way back home.

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <X11/Xlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "../playback/PlayerFixture.h"
#include "SceneDriver.h"
#include "ScreenSaverService.h"
#include "app/Effects.h"
#include "app/Reflection.h"
#include "app/Scene.h"
#include "app/ScreenAwake.h"
#include "app/Stage.h"
#include "catalogue/AddressCodec.h"
#include "catalogue/PlayerDatabase.h"
#include "guide/Guide.h"
#include "kestrel/System.h"
#include "kestrel/Unicode.h"
#include "playback/MediaGraph.h"
#include "playback/PlayerManager.h"
#include "playback/Playback.h"
#include "playback/SampleGrabberCB.h"
#include "playback/Zapping.h"
#include "scenes/ChannelsScene.h"
#include "scenes/FailureText.h"
#include "scenes/GuideLines.h"
#include "scenes/IdleScene.h"
#include "scenes/PlayerScene.h"
#include "scenes/Scenes.h"
#include "state/Language.h"
#include "state/Recent.h"
#include "state/Settings.h"
#include "tests/support/PrivateDisplay.h"
#include "widgets/ScalerWidget.h"
#include "widgets/VolumeWidget.h"

using namespace std::chrono_literals;

namespace {

// What the stage and the window looked like when the home scene was built.
struct sAtHome {
    int built = 0;
    bool stageFullScreen = false;
    bool placementRead = false;
    int windowX = 0;
    int windowY = 0;
};
sAtHome atHome; // main loop only

// The window's pixels are read as the user would see them: no other test's
// window may stand over them.
[[maybe_unused]] ::testing::Environment* const privateDisplay =
    ::testing::AddGlobalTestEnvironment(new testsupport::cPrivateDisplay);

cPlayerScene* currentPlayerScene()
{
    return dynamic_cast<cPlayerScene*>(currentScene);
}

void motionAt(float x, float y)
{
    ClutterEvent* event = clutter_event_new(CLUTTER_MOTION);
    clutter_event_set_coords(event, x, y);
    clutter_event_set_stage(event, stage());
    clutter_event_set_time(event, CLUTTER_CURRENT_TIME);
    clutter_event_put(event);
    clutter_event_free(event);
}

// A press and release of the first button at a given time (milliseconds,
// as the toolkit counts the presses of a double click).
void clickAt(float x, float y, guint32 time)
{
    for (ClutterEventType type : {CLUTTER_BUTTON_PRESS, CLUTTER_BUTTON_RELEASE}) {
        ClutterEvent* event = clutter_event_new(type);
        clutter_event_set_coords(event, x, y);
        clutter_event_set_button(event, 1);
        clutter_event_set_stage(event, stage());
        clutter_event_set_time(event, time);
        clutter_event_put(event);
        clutter_event_free(event);
    }
}

float depthOf(ClutterActor* actor)
{
    return clutter_actor_get_z_position(actor);
}

void positionOf(ClutterActor* actor, float& x, float& y)
{
    clutter_actor_get_position(actor, &x, &y);
}

// The zoom slider's group: the last actor the controls group holds.
ClutterActor* sliderGroup(cPlayerScene* scene)
{
    return clutter_actor_get_last_child(scene->controlsGroup());
}

void countNotify(GObject*, GParamSpec*, gpointer count)
{
    ++*static_cast<int*>(count);
}

gboolean countEvent(ClutterActor*, ClutterEvent*, gpointer count)
{
    ++*static_cast<int*>(count);
    return FALSE;
}

gboolean countMotion(ClutterActor*, ClutterEvent* event, gpointer count)
{
    if (clutter_event_type(event) == CLUTTER_MOTION) {
        ++*static_cast<int*>(count);
    }
    return FALSE;
}

void countActorPaint(ClutterActor*, gpointer count)
{
    ++*static_cast<int*>(count);
}

// The times `actor` is painted while the next `frames` video frames are
// shown.
int paintsOver(ClutterActor* actor, uint64_t frames)
{
    int paints = 0;
    const gulong handler = g_signal_connect(actor, "paint", G_CALLBACK(countActorPaint), &paints);
    const uint64_t until = frameStats().uploaded + frames;
    runMainLoopUntil([until] { return frameStats().uploaded >= until; }, 10000);
    takeScreenshot();
    g_signal_handler_disconnect(actor, handler);
    return paints;
}

std::string readUtf16File(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::string ascii;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
        ascii += bytes[i + 1] == 0 ? bytes[i] : '?';
    }
    return ascii;
}

const char* const LongChannelName =
    "Canal Internacional de Noticias y Deportes en Directo las Veinticuatro Horas del D\u00eda";

int occurrences(const std::string& text, const std::string& part)
{
    int count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

} // namespace

class PlayerSceneTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // The bus first: the program's session bus is the one named when
        // it first asks for it.
        sScreenSaver = new cScreenSaverService;
        ASSERT_TRUE(ensureUi()) << uiFailure();
        ASSERT_TRUE(initializeMedia());
        sFolder = new testsupport::cTempFolder("player-scene");
        sServer = new cTestHttpServer;
        cSettings::instance()->reset();
        cSettings::instance()->setDataFolder(kestrel::fromUtf8(sFolder->path() + "/"));
        cRecent::destroyInstance();

        // A 320 x 240 clip, red above blue as seen, long enough to play
        // through a test without reopening.
        cClipRecipe recipe;
        recipe.seconds = 30;
        recipe.fps = 15;
        ASSERT_TRUE(makeClip(sFolder->path() + "/long.mkv", recipe));
        sServer->addFile("/long.mkv", sFolder->path() + "/long.mkv", contentTypeOf(recipe));
        // A clip larger than the window, which its video then hides.
        cClipRecipe wide;
        wide.width = 832;
        wide.height = 624;
        wide.fps = 10;
        wide.seconds = 20;
        ASSERT_TRUE(makeClip(sFolder->path() + "/wide.mkv", wide));
        sServer->addFile("/wide.mkv", sFolder->path() + "/wide.mkv", contentTypeOf(wide));
        sServer->addStall("/stall.mkv");
        // A white box crossing the bottom rows, which the video's
        // reflection mirrors.
        cClipRecipe moving;
        moving.seconds = 30;
        moving.fps = 15;
        moving.movingBox = true;
        moving.boxTop = 0.875;
        ASSERT_TRUE(makeClip(sFolder->path() + "/moving.mkv", moving));
        sServer->addFile("/moving.mkv", sFolder->path() + "/moving.mkv", contentTypeOf(moving));
        // An ASX playlist of the long clip, answered only after a while,
        // so that the catalogue's current channel can change meanwhile.
        sServer->addGenerator("/slow.asx", "video/x-ms-asf", [](std::ostream& body, const std::function<bool()>&) {
            std::this_thread::sleep_for(std::chrono::milliseconds(600));
            body << "<asx><entry><ref href=\"" << sServer->url("/long.mkv") << "\"/></entry></asx>";
            body.flush();
        });
        // An ASX playlist of the long clip that its server holds for
        // seconds before answering, as a slow server does.
        sServer->addGenerator("/held.asx", "video/x-ms-asf",
                              [](std::ostream& body, const std::function<bool()>& stopping) {
                                  const double until = nowMilliseconds() + HeldPlaylistMilliseconds;
                                  while (nowMilliseconds() < until && !stopping()) {
                                      std::this_thread::sleep_for(std::chrono::milliseconds(20));
                                  }
                                  body << "<asx><entry><ref href=\"" << sServer->url("/long.mkv")
                                       << "\"/></entry></asx>";
                                  body.flush();
                                  ++sHeldPlaylistAnswers;
                              });
        // A clip of the placeholder's own size, 256 x 256.
        cClipRecipe square;
        square.width = 256;
        square.height = 256;
        square.fps = 15;
        square.seconds = 20;
        ASSERT_TRUE(makeClip(sFolder->path() + "/square.mkv", square));
        sServer->addFile("/square.mkv", sFolder->path() + "/square.mkv", contentTypeOf(square));
        // A channel that shows pictures for a moment, then fails: its
        // playlist's second entry is dead.
        cClipRecipe brief;
        brief.seconds = 2;
        brief.fps = 15;
        ASSERT_TRUE(makeClip(sFolder->path() + "/brief.mkv", brief));
        sServer->addFile("/brief.mkv", sFolder->path() + "/brief.mkv", contentTypeOf(brief));
        const std::string dead = "http://127.0.0.1:" + std::to_string(closedPort()) + "/gone.mkv";
        sServer->addBody("/brief.asx",
                         "<asx><entry><ref href=\"" + sServer->url("/brief.mkv") + "\"/></entry><entry><ref href=\"" +
                             dead + "\"/></entry></asx>",
                         200, "video/x-ms-asf");

        // A clip without sound and one without picture.
        cClipRecipe silent;
        silent.audio = false;
        silent.fps = 15;
        silent.seconds = 30;
        ASSERT_TRUE(makeClip(sFolder->path() + "/silent.mkv", silent));
        sServer->addFile("/silent.mkv", sFolder->path() + "/silent.mkv", contentTypeOf(silent));
        cClipRecipe radio;
        radio.video = false;
        radio.seconds = 30;
        ASSERT_TRUE(makeClip(sFolder->path() + "/radio.mkv", radio));
        sServer->addFile("/radio.mkv", sFolder->path() + "/radio.mkv", contentTypeOf(radio));

        // Two encodes of different sizes one after the other in one MPEG-TS
        // stream: 320 x 240 red above blue, then 400 x 200 green above
        // yellow.
        cClipRecipe before;
        before.container = "ts";
        before.audio = false;
        before.fps = 15;
        before.seconds = 4;
        cClipRecipe after = before;
        after.width = 400;
        after.height = 200;
        after.seconds = 30;
        after.timeOffset = before.seconds;
        after.topColour = "green";
        after.bottomColour = "yellow";
        ASSERT_TRUE(makeClip(sFolder->path() + "/before.ts", before));
        ASSERT_TRUE(makeClip(sFolder->path() + "/after.ts", after));
        {
            std::ofstream joined(sFolder->path() + "/switch.ts", std::ios::binary);
            for (const char* part : {"/before.ts", "/after.ts"}) {
                std::ifstream in(sFolder->path() + part, std::ios::binary);
                joined << in.rdbuf();
            }
        }
        sServer->addFile("/switch.ts", sFolder->path() + "/switch.ts", "video/mp2t");

        // The catalogue as the update installs it.
        sChannels = sFolder->path() + "/channels";
        std::filesystem::create_directories(sChannels);
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open((sChannels + "/database").c_str(), &db), SQLITE_OK);
        std::string sql = "create table channels (country text, type text, name text, description text, url text);";
        const std::pair<const char*, std::string> channels[] = {
            {"Loopback TV", sServer->url("/long.mkv")},
            {"Wide TV", sServer->url("/wide.mkv")},
            {"Stalled", sServer->url("/stall.mkv")},
            {"Moving TV", sServer->url("/moving.mkv")},
            {"Square TV", sServer->url("/square.mkv")},
            {"Playlist TV", sServer->url("/slow.asx")},
            {"Held Playlist TV", sServer->url("/held.asx")},
            {"Unreachable", "http://127.0.0.1:" + std::to_string(closedPort()) + "/gone.mkv"},
            {"Silent TV", sServer->url("/silent.mkv")},
            {"Radio Loopback", sServer->url("/radio.mkv")},
            {"Switching TV", sServer->url("/switch.ts")},
        };
        for (const auto& [name, url] : channels) {
            sql += std::string("insert into channels values ('Testland', 'News', '") + name + "', 'Made by the test', '" +
                   kestrel::toUtf8(encodeAddress(kestrel::fromUtf8(url))) + "');";
        }
        // A playlist on a server that is not there.
        sql += "insert into channels values ('Testland', 'News', 'Lost Playlist', 'Made by the test', '" +
               kestrel::toUtf8(encodeAddress(kestrel::fromUtf8("http://127.0.0.1:" + std::to_string(closedPort()) +
                                                               "/lost.asx"))) +
               "');";
        // A name longer than the stage is wide.
        sql += "insert into channels values ('Testland', 'News', '" + std::string(LongChannelName) +
               "', 'Made by the test', '" + kestrel::toUtf8(encodeAddress(kestrel::fromUtf8(sServer->url("/long.mkv")))) +
               "');";
        sql += "insert into channels values ('Testland', 'News', 'Brief TV', 'Made by the test', '" +
               kestrel::toUtf8(encodeAddress(kestrel::fromUtf8(sServer->url("/brief.asx")))) + "');";
        // Three channels of one country to zap through, a dead one in the
        // middle.
        const std::pair<const char*, std::string> zapland[] = {
            {"A One", sServer->url("/long.mkv")},
            {"B Dead", dead},
            {"C Three", sServer->url("/square.mkv")},
        };
        for (const auto& [name, url] : zapland) {
            sql += std::string("insert into channels values ('Zapland', 'News', '") + name + "', 'Made by the test', '" +
                   kestrel::toUtf8(encodeAddress(kestrel::fromUtf8(url))) + "');";
        }
        ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
        ASSERT_TRUE(cPlayerDatabase::instance()->open(kestrel::fromUtf8(sChannels)));

        installPlayback();
        installScenes();
        // The real home scene, with a note of the stage and the window at
        // the moment it is built.
        registerSceneFactory(SceneHome, [](ClutterActor* root) {
            ++atHome.built;
            atHome.stageFullScreen = stageFullScreenRequested();
            bool visible = false;
            atHome.placementRead =
                readWindowPlacement(windowTableEntry(0).window, atHome.windowX, atHome.windowY, visible);
            return new cIdleScene(root);
        });
    }

    static void TearDownTestSuite()
    {
        closeCurrentScene();
        waitForEffectsToEnd();
        cPlayerDatabase::destroyInstance();
        shutdownPlayback();
        cRecent::destroyInstance();
        cSettings::instance()->reset();
        delete sServer;
        sServer = nullptr;
        delete sFolder;
        sFolder = nullptr;
        delete sScreenSaver;
        sScreenSaver = nullptr;
    }

    void SetUp() override
    {
        setStageSize(800, 600);
        parkPointer();
        cSettings::instance()->reset();
        cSettings::instance()->setDataFolder(kestrel::fromUtf8(sFolder->path() + "/"));
        atHome = {};
    }

    void TearDown() override
    {
        clearZapList();
        cPlayerManager::instance()->destroyCurrentPlayer();
        closeCurrentScene();
        waitForEffectsToEnd();
        cPlayerManager::instance()->waitForDestroyers();
        setStageFullScreen(false);
        runMainLoopFor(20);
        setStageSize(800, 600);
    }

    static void setStageSize(float width, float height)
    {
        clutter_actor_set_size(stageActor(), width, height);
        runMainLoopUntil([&] {
            float w = 0, h = 0;
            clutter_actor_get_size(stageActor(), &w, &h);
            return w == width && h == height;
        }, 3000);
    }

    // Plays a channel of the catalogue through the play-channel procedure
    // and returns its scene once it is shown.
    cPlayerScene* play(const char16_t* name)
    {
        cPlayerDatabase* database = cPlayerDatabase::instance();
        database->setCurrentCountry(u"Testland");
        database->setCurrentType(u"News");
        database->setCurrentName(name);
        cScene* before = currentScene;
        requestPlayerScene();
        runMainLoopUntil([before] { return currentPlayerScene() != nullptr && currentScene != before; }, 5000);
        return currentScene != before ? currentPlayerScene() : nullptr;
    }

    // Plays the clip and waits for its first frame to be laid out and every
    // entrance animation to end.
    cPlayerScene* playClip()
    {
        cPlayerScene* scene = play(u"Loopback TV");
        if (scene == nullptr) {
            return nullptr;
        }
        if (!runMainLoopUntil([scene] { return scene->frameWidth() == 320; }, 15000)) {
            return nullptr;
        }
        waitForEffectsToEnd();
        return scene;
    }

    // Moves the pointer and waits for the controls' fade to end.
    static void showControlsAndWait(cPlayerScene* scene)
    {
        motionAt(400, 300);
        settle();
        runMainLoopUntil([scene] { return !scene->controlsFading(); }, 3000);
    }

    // One zapping key in the player scene: the next player scene names
    // the channel the key leads to; that channel plays, or the scene says
    // why it does not and stays (no home scene is built).
    void expectZap(guint key, const char* channel, bool plays)
    {
        SCOPED_TRACE(channel);
        cPlayerScene* before = currentPlayerScene();
        const int homesBefore = atHome.built;
        typeKey(key);
        settle();
        ASSERT_TRUE(runMainLoopUntil(
            [&] { return currentPlayerScene() != nullptr && currentPlayerScene() != before; }, 5000));
        cPlayerScene* scene = currentPlayerScene();
        EXPECT_STREQ(clutter_stage_get_title(stage()), channel);
        if (plays) {
            EXPECT_TRUE(runMainLoopUntil(
                [] {
                    cVideoPlayer* player = cPlayerManager::instance()->currentPlayer();
                    return player != nullptr && player->isLoaded();
                },
                15000));
        } else {
            EXPECT_TRUE(runMainLoopUntil(
                [scene] {
                    return currentScene != scene ||
                           std::string(clutter_text_get_text(CLUTTER_TEXT(scene->zapCaption())))
                                   .find(" does not play: ") != std::string::npos;
                },
                15000));
            runMainLoopFor(300);
            EXPECT_EQ(currentScene, scene);
            EXPECT_EQ(atHome.built, homesBefore);
        }
        EXPECT_EQ(kestrel::toUtf8(cRecent::instance()->entryName(0)), channel);
        waitForEffectsToEnd();
    }

    static constexpr int HeldPlaylistMilliseconds = 4000;

    static testsupport::cTempFolder* sFolder;
    static cTestHttpServer* sServer;
    static std::string sChannels;
    static cScreenSaverService* sScreenSaver;
    // Answers the held playlist's server has sent; any thread.
    static std::atomic<int> sHeldPlaylistAnswers;
};

std::atomic<int> PlayerSceneTest::sHeldPlaylistAnswers{0};

cScreenSaverService* PlayerSceneTest::sScreenSaver = nullptr;

testsupport::cTempFolder* PlayerSceneTest::sFolder = nullptr;
cTestHttpServer* PlayerSceneTest::sServer = nullptr;
std::string PlayerSceneTest::sChannels;

TEST(PlayerSceneLayout, PlainFunctions)
{
    struct sCase {
        int sw, sh, vw, vh;
        bool fullScreen;
        sVideoSize layout, sizeChange;
    } cases[] = {
        {800, 600, 320, 240, false, {320, 240}, {320, 240}},
        {1280, 1024, 320, 240, true, {1280, 960}, {1365, 1024}},
        {1280, 1024, 240, 320, true, {768, 1024}, {768, 1024}},
        {1024, 1280, 320, 240, true, {1024, 768}, {1024, 768}},
        {1920, 1080, 1280, 720, true, {1920, 1080}, {1920, 1080}},
    };
    for (const sCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.sw << "x" << c.sh << " " << c.vw << "x" << c.vh);
        const sVideoSize layout = playerLayoutVideoSize(c.sw, c.sh, c.vw, c.vh, c.fullScreen);
        EXPECT_EQ(layout.width, c.layout.width);
        EXPECT_EQ(layout.height, c.layout.height);
        const sVideoSize changed = playerSizeChangeVideoSize(c.sw, c.sh, c.vw, c.vh, c.fullScreen);
        EXPECT_EQ(changed.width, c.sizeChange.width);
        EXPECT_EQ(changed.height, c.sizeChange.height);
    }
    int x = 0, y = 0;
    playerReflectionPosition(800, 600, 320, 240, x, y);
    EXPECT_EQ(x, 240);
    EXPECT_EQ(y, 425);
    EXPECT_EQ(playerZoomDepth(2.5f), 250);
    EXPECT_EQ(playerZoomDepth(5.0f), 500);
    EXPECT_EQ(playerZoomDepth(0.0f), 0);

    const sControlsOpacity shown = playerControlsOpacity(10, 10, true);
    EXPECT_EQ(shown.controls, 255);
    EXPECT_EQ(shown.video, 128);
    EXPECT_EQ(shown.reflection, 33);
    const sControlsOpacity hidden = playerControlsOpacity(10, 10, false);
    EXPECT_EQ(hidden.controls, 0);
    EXPECT_EQ(hidden.video, 255);
    EXPECT_EQ(hidden.reflection, 64);
    EXPECT_EQ(playerControlsOpacity(5, 10, true).controls, 127);
}

TEST_F(PlayerSceneTest, WindowedLayoutShowsTheVideoUprightWithItsReflection)
{
    setRememberedIdleFocus(2);
    cPlayerScene* scene = playClip();
    ASSERT_NE(scene, nullptr);
    EXPECT_EQ(rememberedIdleFocus(), IdleCentrePlace);
    EXPECT_STREQ(clutter_stage_get_title(stage()), "Loopback TV");
    EXPECT_STREQ(clutter_text_get_text(CLUTTER_TEXT(scene->nameLabel())), "Loopback TV");
    EXPECT_EQ(lumivex_texture_reflection_get_reflection_height(LUMIVEX_TEXTURE_REFLECTION(scene->reflection())), -50);

    // Stacking, bottom to top.
    std::vector<ClutterActor*> order;
    for (ClutterActor* child = clutter_actor_get_first_child(stageActor()); child != nullptr;
         child = clutter_actor_get_next_sibling(child)) {
        if (child == scene->background() || child == scene->videoGroup() || child == scene->busyIcon() ||
            child == scene->controlsGroup()) {
            order.push_back(child);
        }
    }
    EXPECT_EQ(order, (std::vector<ClutterActor*>{scene->background(), scene->videoGroup(), scene->busyIcon(),
                                                 scene->controlsGroup()}));

    float x = 0, y = 0, ax = 0, ay = 0;
    ClutterActor* video = scene->videoTexture();
    EXPECT_FLOAT_EQ(clutter_actor_get_width(video), 320);
    EXPECT_FLOAT_EQ(clutter_actor_get_height(video), 240);
    positionOf(video, x, y);
    EXPECT_FLOAT_EQ(x, 400);
    EXPECT_FLOAT_EQ(y, 300);
    clutter_actor_get_anchor_point(video, &ax, &ay);
    EXPECT_FLOAT_EQ(ax, 160);
    EXPECT_FLOAT_EQ(ay, 120);
    EXPECT_DOUBLE_EQ(clutter_actor_get_rotation_angle(video, CLUTTER_X_AXIS), 180.0);
    positionOf(scene->reflection(), x, y);
    EXPECT_FLOAT_EQ(x, 240);
    EXPECT_FLOAT_EQ(y, 425);
    EXPECT_FLOAT_EQ(clutter_actor_get_width(scene->reflection()), 320);
    EXPECT_FLOAT_EQ(clutter_actor_get_height(scene->reflection()), 240);
    EXPECT_EQ(clutter_actor_get_opacity(video), 255);
    EXPECT_EQ(clutter_actor_get_opacity(scene->reflection()), 64);
    EXPECT_FALSE(CLUTTER_ACTOR_IS_VISIBLE(scene->controlsGroup()));

    // The picture upright: red above blue; the reflection under it mirrors
    // the blue bottom edge the viewer sees.
    sScreenshot shot = takeScreenshot();
    ASSERT_EQ(shot.width, 800);
    keepScreenshot(shot, "player-video");
    const sRegion upper = regionOf(shot, 380, 200, 420, 260);
    EXPECT_GT(upper.red, 200);
    EXPECT_LT(upper.blue, 60);
    const sRegion lower = regionOf(shot, 380, 340, 420, 400);
    EXPECT_GT(lower.blue, 200);
    EXPECT_LT(lower.red, 60);
    const sRegion mirrored = regionOf(shot, 380, 427, 420, 440);
    EXPECT_GT(mirrored.blue, mirrored.red + 20);

    // The background shows around the small video: it is painted.
    EXPECT_GT(paintsOver(scene->background(), 3), 0);

    // With the controls shown: the picture kept for the documentation.
    showControlsAndWait(scene);
    ASSERT_TRUE(scene->controlsVisible());
    shot = takeScreenshot();
    keepScreenshot(shot, "player");
    // The name at the top in white, the back button standing at y 500,
    // the dimmed video between them.
    EXPECT_GT(regionOf(shot, 300, 45, 500, 75).bright, 20);
    EXPECT_GT(regionOf(shot, 40, 505, 200, 550).bright, 50);
    EXPECT_LT(regionOf(shot, 380, 200, 420, 260).red, 200);
    EXPECT_GT(regionOf(shot, 380, 200, 420, 260).red, 80);
}

// The centre of the white box in a row band of the window's pixels,
// between x0 and x1: the mean x of the columns whose red (which the blue
// lower half lacks) stands out by more than `margin` over the band's
// dimmest column; -1 when no column does.
static double boxCentre(const sScreenshot& shot, int x0, int x1, int y0, int y1, double margin)
{
    std::vector<double> red;
    for (int x = x0; x < x1; ++x) {
        red.push_back(regionOf(shot, x, y0, x + 1, y1).red);
    }
    const double floor = *std::min_element(red.begin(), red.end());
    double sum = 0;
    int count = 0;
    for (size_t i = 0; i < red.size(); ++i) {
        if (red[i] > floor + margin) {
            sum += x0 + static_cast<double>(i);
            ++count;
        }
    }
    return count > 0 ? sum / count : -1;
}

TEST_F(PlayerSceneTest, TheReflectionFollowsAMovingPictureOnTheScreen)
{
    // Seen as the user sees it: the window's pixels as the X server holds
    // them after the toolkit's own partial redraws, no redraw forced.
    cPlayerScene* scene = play(u"Moving TV");
    ASSERT_NE(scene, nullptr);
    ASSERT_TRUE(runMainLoopUntil([scene] { return scene->frameWidth() == 320; }, 15000));
    waitForEffectsToEnd();
    runMainLoopFor(300);

    // The 320 x 240 video stands at (240, 180); the box (40 x 30) runs
    // along its rows 210 to 239, so on screen from y 390 to 419. The
    // reflection's near edge at y 425 mirrors those rows first.
    double previous = -1;
    for (int shotNumber = 0; shotNumber < 3; ++shotNumber) {
        SCOPED_TRACE(shotNumber);
        if (shotNumber > 0) {
            runMainLoopFor(450);
        }
        // On a loaded machine a shot may fall between two frames' redraws:
        // a few more tenths of a second are allowed for the box to show.
        sScreenshot shot;
        double inVideo = -1;
        double inReflection = -1;
        for (int attempt = 0; attempt < 20 && (inVideo < 0 || inReflection < 0); ++attempt) {
            if (attempt > 0) {
                runMainLoopFor(100);
            }
            shot = windowPixels();
            ASSERT_EQ(shot.width, 800);
            inVideo = boxCentre(shot, 240, 560, 398, 412, 100);
            inReflection = boxCentre(shot, 240, 560, 427, 433, 12);
        }
        keepScreenshot(shot, "player-reflection-" + std::to_string(shotNumber));
        ASSERT_GE(inVideo, 0);
        ASSERT_GE(inReflection, 0);
        EXPECT_NEAR(inReflection, inVideo, 12);
        if (previous >= 0) {
            EXPECT_GT(std::abs(inVideo - previous), 20) << "the box moves in the video";
        }
        previous = inVideo;
    }
}

TEST_F(PlayerSceneTest, TheFirstFrameIsShownUprightWhateverItsSize)
{
    // The video texture starts as the 256 x 256 placeholder: a first frame
    // of that very size changes no size, and must still be turned upright.
    struct sCase {
        const char16_t* channel;
        int width, height;
    } cases[] = {
        {u"Loopback TV", 320, 240},
        {u"Square TV", 256, 256},
    };
    for (const sCase& c : cases) {
        SCOPED_TRACE(kestrel::toUtf8(c.channel));
        const uint64_t before = frameStats().uploaded;
        cPlayerScene* scene = play(c.channel);
        ASSERT_NE(scene, nullptr);
        ASSERT_TRUE(runMainLoopUntil([before] { return frameStats().uploaded >= before + 3; }, 15000));
        waitForEffectsToEnd();
        ClutterActor* video = scene->videoTexture();
        EXPECT_DOUBLE_EQ(clutter_actor_get_rotation_angle(video, CLUTTER_X_AXIS), 180.0);
        EXPECT_EQ(scene->frameWidth(), c.width);
        EXPECT_EQ(scene->frameHeight(), c.height);
        EXPECT_FLOAT_EQ(clutter_actor_get_width(video), c.width);
        EXPECT_FLOAT_EQ(clutter_actor_get_height(video), c.height);
        EXPECT_EQ(clutter_actor_get_opacity(scene->reflection()), 64);

        // Red above blue as seen, and under it the reflection of the blue
        // bottom edge only (its band is 50 rows, the rest stays background).
        const sScreenshot shot = takeScreenshot();
        ASSERT_EQ(shot.width, 800);
        const int top = 300 - c.height / 2;
        const sRegion upper = regionOf(shot, 380, top + 10, 420, top + c.height / 2 - 10);
        EXPECT_GT(upper.red, 200);
        EXPECT_LT(upper.blue, 60);
        const sRegion lower = regionOf(shot, 380, 300 + 10, 420, top + c.height - 10);
        EXPECT_GT(lower.blue, 200);
        EXPECT_LT(lower.red, 60);
        const int mirror = top + c.height + 5;
        const sRegion mirrored = regionOf(shot, 380, mirror + 2, 420, mirror + 12);
        EXPECT_GT(mirrored.blue, mirrored.red + 20);
        const sRegion beyondBand = regionOf(shot, 380, mirror + 60, 420, mirror + 80);
        EXPECT_LT(beyondBand.red, mirrored.red + 10) << "no red mirrored beyond the band";

        cPlayerManager::instance()->destroyCurrentPlayer();
        closeCurrentScene();
        waitForEffectsToEnd();
        cPlayerManager::instance()->waitForDestroyers();
    }
}

TEST_F(PlayerSceneTest, TheNameIsThePlayedChannelsEvenIfTheCurrentChannelChangedDuringTheFetch)
{
    cPlayerDatabase* database = cPlayerDatabase::instance();
    database->setCurrentCountry(u"Testland");
    database->setCurrentType(u"News");
    database->setCurrentName(u"Playlist TV");
    requestPlayerScene();
    ASSERT_TRUE(runMainLoopUntil([] { return runningPlaylistFetches() > 0; }, 3000));
    // Another channel chosen while the playlist is fetched.
    database->setCurrentName(u"Loopback TV");
    // The scene made for the player, after the one that stood during the
    // fetch.
    ASSERT_TRUE(runMainLoopUntil(
        [] { return currentPlayerScene() != nullptr && cPlayerManager::instance()->currentPlayer() != nullptr; },
        10000));
    cPlayerScene* scene = currentPlayerScene();
    EXPECT_STREQ(clutter_stage_get_title(stage()), "Playlist TV");
    EXPECT_STREQ(clutter_text_get_text(CLUTTER_TEXT(scene->nameLabel())), "Playlist TV");
}

// While a slow server holds the playlist, the player scene stands without
// a player, its busy icon turning on the screen; its way back (Escape, or
// the back button of its controls) returns home at once, and the playlist
// that arrives afterwards starts nothing.
TEST_F(PlayerSceneTest, WhileAPlaylistIsFetchedTheBusyIconTurnsAndBackLeavesAtOnce)
{
    for (const bool viaButton : {false, true}) {
        SCOPED_TRACE(viaButton ? "the back button" : "Escape");
        cScene* before = currentScene;
        requestHomeScene();
        ASSERT_TRUE(runMainLoopUntil(
            [before] { return dynamic_cast<cIdleScene*>(currentScene) != nullptr && currentScene != before; }, 5000));
        waitForEffectsToEnd();
        atHome = {};
        const int answers = sHeldPlaylistAnswers;
        const int clipRequests = sServer->hits("/long.mkv");

        cPlayerScene* scene = play(u"Held Playlist TV");
        ASSERT_NE(scene, nullptr);
        ASSERT_TRUE(runMainLoopUntil([] { return runningPlaylistFetches() == 1; }, 3000));
        EXPECT_EQ(cPlayerManager::instance()->currentPlayer(), nullptr);
        EXPECT_STREQ(clutter_stage_get_title(stage()), "Held Playlist TV");

        // The icon fades in and turns, on the screen itself: nothing else
        // there moves once the entrance has ended.
        ClutterActor* busy = scene->busyIcon();
        ASSERT_TRUE(runMainLoopUntil(
            [busy] { return CLUTTER_ACTOR_IS_VISIBLE(busy) && clutter_actor_get_opacity(busy) == 255; }, 3000));
        const double angle = clutter_actor_get_rotation_angle(busy, CLUTTER_Z_AXIS);
        EXPECT_TRUE(runMainLoopUntil(
            [busy, angle] { return clutter_actor_get_rotation_angle(busy, CLUTTER_Z_AXIS) != angle; }, 1000));
        runMainLoopFor(50);
        const sScreenshot first = windowPixels();
        runMainLoopFor(300);
        const sScreenshot second = windowPixels();
        ASSERT_EQ(first.width, second.width);
        const int cx = first.width / 2;
        const int cy = first.height / 2;
        int changed = 0;
        for (int y = cy - 48; y < cy + 48; ++y) {
            for (int x = cx - 48; x < cx + 48; ++x) {
                int r1, g1, b1, r2, g2, b2;
                first.at(x, y, r1, g1, b1);
                second.at(x, y, r2, g2, b2);
                if (std::abs(r1 - r2) + std::abs(g1 - g2) + std::abs(b1 - b2) > 60) {
                    ++changed;
                }
            }
        }
        keepScreenshot(second, viaButton ? "fetch-busy-button" : "fetch-busy-escape");
        EXPECT_GT(changed, 100) << "the icon does not turn on the screen";
        EXPECT_EQ(sHeldPlaylistAnswers, answers) << "the server answered before the checks";

        // Back, as the player scene's way back goes.
        if (viaButton) {
            showControlsAndWait(scene);
            float x = 0, y = 0, width = 0, height = 0;
            clutter_actor_get_transformed_position(scene->backButton(), &x, &y);
            clutter_actor_get_transformed_size(scene->backButton(), &width, &height);
            const double pressed = nowMilliseconds();
            clickAt(x + width / 2, y + height / 2);
            ASSERT_TRUE(runMainLoopUntil([] { return dynamic_cast<cIdleScene*>(currentScene) != nullptr; }, 3000));
            EXPECT_LT(nowMilliseconds() - pressed, 500.0);
        } else {
            const double pressed = nowMilliseconds();
            typeKey(CLUTTER_KEY_Escape);
            ASSERT_TRUE(runMainLoopUntil([] { return dynamic_cast<cIdleScene*>(currentScene) != nullptr; }, 3000));
            EXPECT_LT(nowMilliseconds() - pressed, 500.0);
        }
        EXPECT_EQ(atHome.built, 1);
        EXPECT_EQ(sHeldPlaylistAnswers, answers) << "the way back waited for the server";

        // The late playlist is dropped: no player, no scene, no stream.
        ASSERT_TRUE(runMainLoopUntil([answers] { return sHeldPlaylistAnswers > answers; },
                                     HeldPlaylistMilliseconds + 5000));
        ASSERT_TRUE(runMainLoopUntil([] { return runningPlaylistFetches() == 0; }, 5000));
        runMainLoopFor(300);
        EXPECT_EQ(cPlayerManager::instance()->currentPlayer(), nullptr);
        EXPECT_NE(dynamic_cast<cIdleScene*>(currentScene), nullptr);
        EXPECT_EQ(atHome.built, 1);
        EXPECT_EQ(sServer->hits("/long.mkv"), clipRequests);
        waitForEffectsToEnd();
    }
}

TEST_F(PlayerSceneTest, TheBackgroundIsLeftUnpaintedOnlyWhileAWideVideoHidesIt)
{
    cPlayerScene* scene = play(u"Wide TV");
    ASSERT_NE(scene, nullptr);
    ASSERT_TRUE(runMainLoopUntil([scene] { return scene->frameWidth() == 832; }, 15000));
    waitForEffectsToEnd();

    // The video reaches past every edge of the window: the background under
    // it is not painted, frame after frame, and the picture is the video's
    // to the edges, upright.
    EXPECT_EQ(paintsOver(scene->background(), 5), 0);
    const sScreenshot shot = takeScreenshot();
    ASSERT_EQ(shot.width, 800);
    EXPECT_GT(regionOf(shot, 0, 0, 40, 40).red, 200);
    EXPECT_GT(regionOf(shot, 760, 560, 800, 600).blue, 200);

    // Dimmed under the controls, the video lets the background through:
    // painted again.
    showControlsAndWait(scene);
    ASSERT_TRUE(scene->controlsVisible());
    EXPECT_GT(paintsOver(scene->background(), 3), 0);
}

TEST_F(PlayerSceneTest, ControlsFadeInOnMotionAndOutThreeSecondsAfterTheLast)
{
    cPlayerScene* scene = playClip();
    ASSERT_NE(scene, nullptr);

    // Fade in over about a third of a second.
    const double start = nowMilliseconds();
    motionAt(400, 300);
    settle();
    EXPECT_TRUE(scene->controlsVisible());
    EXPECT_TRUE(scene->controlsFading());
    const guint firstTimer = scene->pendingHideTimer();
    EXPECT_NE(firstTimer, 0u);
    // Motion during the fade changes nothing.
    motionAt(410, 310);
    settle();
    EXPECT_EQ(scene->pendingHideTimer(), firstTimer);
    ASSERT_TRUE(runMainLoopUntil([scene] { return !scene->controlsFading(); }, 3000));
    const double fadeIn = nowMilliseconds() - start;
    EXPECT_GE(fadeIn, 300);
    EXPECT_LT(fadeIn, 1500);
    EXPECT_TRUE(CLUTTER_ACTOR_IS_VISIBLE(scene->controlsGroup()));
    EXPECT_EQ(clutter_actor_get_opacity(scene->controlsGroup()), 255);
    EXPECT_EQ(clutter_actor_get_opacity(scene->videoTexture()), 128);
    EXPECT_EQ(clutter_actor_get_opacity(scene->reflection()), 33);

    // A second motion within the 3 seconds starts the time-out again.
    runMainLoopFor(1000);
    motionAt(420, 300);
    settle();
    const double secondMotion = nowMilliseconds();
    const guint secondTimer = scene->pendingHideTimer();
    EXPECT_NE(secondTimer, 0u);
    EXPECT_NE(secondTimer, firstTimer);
    EXPECT_EQ(g_main_context_find_source_by_id(nullptr, firstTimer), nullptr);

    // Three seconds without motion: the controls fade out.
    ASSERT_TRUE(runMainLoopUntil([scene] { return !scene->controlsVisible(); }, 5000));
    EXPECT_GE(nowMilliseconds() - secondMotion, 2900);
    EXPECT_TRUE(scene->controlsFading());
    // Motion during the fade-out neither reverses it nor starts a timer.
    motionAt(400, 300);
    settle();
    EXPECT_FALSE(scene->controlsVisible());
    ASSERT_TRUE(runMainLoopUntil([scene] { return !scene->controlsFading(); }, 3000));
    EXPECT_FALSE(CLUTTER_ACTOR_IS_VISIBLE(scene->controlsGroup()));
    EXPECT_EQ(clutter_actor_get_opacity(scene->videoTexture()), 255);
    EXPECT_EQ(clutter_actor_get_opacity(scene->reflection()), 64);
    EXPECT_EQ(scene->pendingHideTimer(), 0u);

    // After the fade, motion brings them back.
    motionAt(400, 300);
    settle();
    EXPECT_TRUE(scene->controlsVisible());
}

TEST_F(PlayerSceneTest, ScrollIsSwallowedAndUnboundKeysDoNothing)
{
    // Motion of the display's real pointer (another client moving it, a
    // window moving under it) is not the test's doing; the controls are
    // judged only when none arrived. (Static: the handler outlives the test
    // if an assertion ends it early.)
    static int motions;
    motions = 0;
    const gulong motionHandler = g_signal_connect(stageActor(), "captured-event", G_CALLBACK(countMotion), &motions);
    cPlayerScene* scene = playClip();
    ASSERT_NE(scene, nullptr);
    // Handlers connected after the scene's see only what it passes on.
    int scrolls = 0;
    int keys = 0;
    const gulong scrollHandler = g_signal_connect(stageActor(), "scroll-event", G_CALLBACK(countEvent), &scrolls);
    const gulong keyHandler = g_signal_connect(stageActor(), "key-release-event", G_CALLBACK(countEvent), &keys);
    for (ClutterScrollDirection direction : {CLUTTER_SCROLL_UP, CLUTTER_SCROLL_DOWN}) {
        scrollAt(400, 300, direction);
    }
    for (guint key : {CLUTTER_KEY_x, CLUTTER_KEY_Return, CLUTTER_KEY_space, CLUTTER_KEY_BackSpace}) {
        typeKey(key);
    }
    settle();
    g_signal_handler_disconnect(stageActor(), scrollHandler);
    g_signal_handler_disconnect(stageActor(), keyHandler);
    g_signal_handler_disconnect(stageActor(), motionHandler);
    EXPECT_EQ(scrolls, 0);
    EXPECT_EQ(keys, 4);
    EXPECT_EQ(currentScene, scene);
    EXPECT_FALSE(scene->isFullScreen());
    if (motions == 0) {
        EXPECT_FALSE(scene->controlsVisible());
    }
    EXPECT_EQ(atHome.built, 0);
}

TEST_F(PlayerSceneTest, TheKnobSetsAndStoresTheVolumeAndKeepsTheMute)
{
    for (bool muted : {false, true}) {
        SCOPED_TRACE(muted ? "muted" : "not muted");
        cSettings* settings = cSettings::instance();
        settings->setInteger(u"volume", 40);
        settings->setBoolean(u"muted", muted);
        cPlayerScene* scene = playClip();
        ASSERT_NE(scene, nullptr);
        cVideoPlayer* player = cPlayerManager::instance()->currentPlayer();
        ASSERT_NE(player, nullptr);
        EXPECT_EQ(scene->volumeKnob()->getValue(), 40);
        EXPECT_EQ(player->getVolume(), 40);
        EXPECT_EQ(settings->getString(u"volume", u""), u"40");
        ASSERT_TRUE(runMainLoopUntil([player] { return player->isLoaded(); }, 10000));

        // One notch up on the knob.
        showControlsAndWait(scene);
        scrollAt(800 - 126 + 48, 600 - 130 + 48, CLUTTER_SCROLL_UP);
        settle();
        EXPECT_EQ(scene->volumeKnob()->getValue(), 45);
        EXPECT_EQ(player->getVolume(), 45);
        EXPECT_EQ(settings->getInteger(u"volume", 0), 45);
        EXPECT_EQ(player->isMuted(), muted);
        EXPECT_EQ(settings->getBoolean(u"muted", !muted), muted);
        EXPECT_EQ(player->impl().appliedAttenuation(), cVideoPlayerImpl::attenuationForVolume(muted ? 0 : 45));
        cPlayerManager::instance()->destroyCurrentPlayer();
        closeCurrentScene();
        waitForEffectsToEnd();
    }
}

TEST_F(PlayerSceneTest, VolumeIsStoredWhenTheSceneIsSetUp)
{
    // Nothing stored: the knob starts at 100, which the scene stores.
    ASSERT_EQ(cSettings::instance()->getString(u"volume", u"none"), u"none");
    cPlayerScene* scene = play(u"Loopback TV");
    ASSERT_NE(scene, nullptr);
    EXPECT_EQ(scene->volumeKnob()->getValue(), 100);
    EXPECT_EQ(cSettings::instance()->getString(u"volume", u"none"), u"100");
}

TEST_F(PlayerSceneTest, AddingToFavouritesTwiceKeepsOneAndSpinsBothTimes)
{
    cPlayerScene* scene = playClip();
    ASSERT_NE(scene, nullptr);
    auto count = [] {
        int n = 0;
        for (const std::u16string& name : cPlayerDatabase::instance()->favouriteNames()) {
            n += name == u"Loopback TV" ? 1 : 0;
        }
        return n;
    };
    EXPECT_EQ(count(), 0);
    for (int click = 1; click <= 2; ++click) {
        SCOPED_TRACE(click);
        showControlsAndWait(scene);
        int turns = 0;
        const gulong handler = g_signal_connect(scene->addToFavouritesButton(), "notify::rotation-angle-y",
                                                G_CALLBACK(countNotify), &turns);
        clickAt(78, 64);
        settle();
        waitForEffectsToEnd();
        g_signal_handler_disconnect(scene->addToFavouritesButton(), handler);
        EXPECT_GT(turns, 2);
        EXPECT_EQ(count(), 1);
        EXPECT_EQ(currentScene, scene);
    }

    // The database writes favorites.xml when it goes, as at shutdown.
    cPlayerManager::instance()->destroyCurrentPlayer();
    closeCurrentScene();
    waitForEffectsToEnd();
    cPlayerDatabase::destroyInstance();
    const std::string saved = readUtf16File(sChannels + "/favorites.xml");
    EXPECT_EQ(occurrences(saved, "Loopback TV"), 1) << saved;
    ASSERT_TRUE(cPlayerDatabase::instance()->open(kestrel::fromUtf8(sChannels)));
    EXPECT_EQ(count(), 1);
}

TEST_F(PlayerSceneTest, BusyIconTurnsWhileTheLoadIsHeldAndGoesAfterTheFirstFrame)
{
    cPlayerScene* stalled = play(u"Stalled");
    ASSERT_NE(stalled, nullptr);
    ClutterActor* busy = stalled->busyIcon();
    ASSERT_TRUE(runMainLoopUntil([busy] { return CLUTTER_ACTOR_IS_VISIBLE(busy); }, 5000));
    ASSERT_TRUE(runMainLoopUntil([busy] { return clutter_actor_get_opacity(busy) == 255; }, 3000));
    EXPECT_FLOAT_EQ(depthOf(busy), 1);
    const double angle = clutter_actor_get_rotation_angle(busy, CLUTTER_Z_AXIS);
    EXPECT_TRUE(runMainLoopUntil(
        [busy, angle] { return clutter_actor_get_rotation_angle(busy, CLUTTER_Z_AXIS) != angle; }, 1000));
    runMainLoopFor(500);
    EXPECT_TRUE(CLUTTER_ACTOR_IS_VISIBLE(busy)) << "still held by the server";

    cPlayerScene* playing = playClip();
    ASSERT_NE(playing, nullptr);
    EXPECT_TRUE(runMainLoopUntil(
        [playing] {
            return !CLUTTER_ACTOR_IS_VISIBLE(playing->busyIcon()) && clutter_actor_get_opacity(playing->busyIcon()) == 0;
        },
        3000));
}

// A channel without sound shows its picture; one without picture plays its
// sound behind a still card, the channel's name on the background, and
// keeps its recent tile without a picture.
TEST_F(PlayerSceneTest, AChannelWithoutSoundOrWithoutPicturePlays)
{
    struct {
        const char16_t* name;
        bool video;
    } cases[] = {
        {u"Silent TV", true},
        {u"Radio Loopback", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(kestrel::toUtf8(c.name));
        cPlayerScene* scene = play(c.name);
        ASSERT_NE(scene, nullptr);
        ASSERT_TRUE(runMainLoopUntil(
            [] {
                cVideoPlayer* player = cPlayerManager::instance()->currentPlayer();
                return player != nullptr && player->isLoaded();
            },
            15000));
        if (c.video) {
            ASSERT_TRUE(runMainLoopUntil([scene] { return scene->frameWidth() == 320; }, 15000));
        } else {
            ASSERT_TRUE(runMainLoopUntil([scene] { return scene->showsStillCard(); }, 5000));
        }
        waitForEffectsToEnd();
        runMainLoopFor(500);
        EXPECT_EQ(atHome.built, 0);
        EXPECT_EQ(scene->showsStillCard(), !c.video);
        EXPECT_EQ(CLUTTER_ACTOR_IS_VISIBLE(scene->videoTexture()), c.video);
        EXPECT_EQ(CLUTTER_ACTOR_IS_VISIBLE(scene->stillCard()), !c.video);

        sScreenshot shot = takeScreenshot();
        ASSERT_EQ(shot.width, 800);
        if (c.video) {
            EXPECT_GT(regionOf(shot, 380, 200, 420, 260).red, 200);
            EXPECT_GT(regionOf(shot, 380, 340, 420, 400).blue, 200);
        } else {
            keepScreenshot(shot, "player-sound-only");
            EXPECT_STREQ(clutter_text_get_text(CLUTTER_TEXT(scene->stillCard())), "Radio Loopback");
            // The name in white across the middle of the stage, nothing of
            // the empty texture's placeholder around it.
            float x = 0, y = 0;
            positionOf(scene->stillCard(), x, y);
            const float height = clutter_actor_get_height(scene->stillCard());
            EXPECT_NEAR(y + height / 2, 300, 2);
            EXPECT_GT(regionOf(shot, 100, 270, 700, 330).bright, 200);
            EXPECT_EQ(regionOf(shot, 100, 150, 700, 250).bright, 0);
            EXPECT_EQ(regionOf(shot, 100, 350, 700, 450).bright, 0);
            // The controls work as for a video: they fade in on motion.
            showControlsAndWait(scene);
            EXPECT_TRUE(scene->controlsVisible());
            // Remembered among the recent channels, with no picture.
            const RecentEntry entry = cRecent::instance()->entry(0);
            EXPECT_EQ(entry.name, u"Radio Loopback");
            EXPECT_EQ(entry.pictureCount, 1);
            uint8_t* pixels = nullptr;
            int width = 0, height2 = 0;
            EXPECT_FALSE(cRecent::instance()->loadPicture(0, pixels, width, height2));
        }
    }
}

// Counts the paints of the video texture whose laid-out size is not the
// size of the frame it holds (windowed, the two are equal).
void countMisfitPaint(ClutterActor* actor, gpointer misfits)
{
    int width = 0, height = 0;
    clutter_texture_get_base_size(CLUTTER_TEXTURE(actor), &width, &height);
    if (static_cast<int>(clutter_actor_get_width(actor)) != width ||
        static_cast<int>(clutter_actor_get_height(actor)) != height) {
        ++*static_cast<int*>(misfits);
    }
}

// A picture size change in the middle of the stream lays the video out
// again as the first frame did, and no frame is painted at the size of
// the other.
TEST_F(PlayerSceneTest, APictureSizeChangeMidStreamLaysTheVideoOutAgain)
{
    cPlayerScene* scene = play(u"Switching TV");
    ASSERT_NE(scene, nullptr);
    ASSERT_TRUE(runMainLoopUntil([scene] { return scene->frameWidth() == 320; }, 15000));
    int misfits = 0;
    const gulong handler = g_signal_connect(scene->videoTexture(), "paint", G_CALLBACK(countMisfitPaint), &misfits);
    const int64_t storages = frameStats().storages;
    ASSERT_TRUE(runMainLoopUntil([scene] { return scene->frameWidth() == 400; }, 15000));
    const uint64_t until = frameStats().uploaded + 10;
    runMainLoopUntil([until] { return frameStats().uploaded >= until; }, 5000);
    waitForEffectsToEnd();
    g_signal_handler_disconnect(scene->videoTexture(), handler);
    EXPECT_EQ(misfits, 0);
    EXPECT_EQ(frameStats().storages, storages);

    ClutterActor* video = scene->videoTexture();
    float x = 0, y = 0, ax = 0, ay = 0;
    EXPECT_FLOAT_EQ(clutter_actor_get_width(video), 400);
    EXPECT_FLOAT_EQ(clutter_actor_get_height(video), 200);
    clutter_actor_get_anchor_point(video, &ax, &ay);
    EXPECT_FLOAT_EQ(ax, 200);
    EXPECT_FLOAT_EQ(ay, 100);
    positionOf(video, x, y);
    EXPECT_FLOAT_EQ(x, 400);
    EXPECT_FLOAT_EQ(y, 300);
    EXPECT_DOUBLE_EQ(clutter_actor_get_rotation_angle(video, CLUTTER_X_AXIS), 180.0);
    positionOf(scene->reflection(), x, y);
    EXPECT_FLOAT_EQ(x, 200);
    EXPECT_FLOAT_EQ(y, 405);
    EXPECT_FLOAT_EQ(clutter_actor_get_width(scene->reflection()), 400);

    // On the screen: the new picture upright over 400 x 200, wider than
    // the old one on both sides.
    sScreenshot shot = takeScreenshot();
    ASSERT_EQ(shot.width, 800);
    keepScreenshot(shot, "player-size-change");
    for (int x0 : {210, 380, 570}) {
        const sRegion upper = regionOf(shot, x0, 215, x0 + 20, 285);
        EXPECT_GT(upper.green, 100) << x0;
        EXPECT_LT(upper.red, 60) << x0;
        const sRegion lower = regionOf(shot, x0, 315, x0 + 20, 385);
        EXPECT_GT(lower.red, 200) << x0;
        EXPECT_GT(lower.green, 200) << x0;
        EXPECT_LT(lower.blue, 60) << x0;
    }
    EXPECT_EQ(atHome.built, 0);
}

TEST_F(PlayerSceneTest, AnUnreachableChannelReturnsHomeAndIsAmongTheRecentOnes)
{
    cPlayerScene* scene = play(u"Unreachable");
    ASSERT_NE(scene, nullptr);
    ASSERT_TRUE(runMainLoopUntil([] { return dynamic_cast<cIdleScene*>(currentScene) != nullptr; }, 15000));
    EXPECT_EQ(atHome.built, 1);
    EXPECT_EQ(cRecent::instance()->entryName(0), u"Unreachable");
    EXPECT_EQ(cPlayerManager::instance()->currentPlayer(), nullptr);
}

// Last of the player scene's tests: the window goes full screen, is moved
// and comes back, and the real pointer's crossings that this leaves behind
// on the display must not reach a test that judges the controls' motion.
TEST_F(PlayerSceneTest, FullScreenLayoutZoomAndTheWayBack)
{
    setStageSize(1280, 1024);
    cPlayerScene* scene = playClip();
    ASSERT_NE(scene, nullptr);
    ClutterActor* video = scene->videoTexture();
    float x = 0, y = 0;
    positionOf(video, x, y);
    EXPECT_FLOAT_EQ(x, 640);
    EXPECT_FLOAT_EQ(y, 512);

    // Zoom 2.5 windowed: depth 250.
    scene->zoomSlider()->setValue(2.5f);
    waitForEffectsToEnd();
    EXPECT_FLOAT_EQ(depthOf(video), 250);
    EXPECT_FLOAT_EQ(depthOf(scene->reflection()), 250);

    // Full screen through the button, which spins.
    showControlsAndWait(scene);
    int turns = 0;
    const gulong spinHandler =
        g_signal_connect(scene->fullScreenButton(), "notify::rotation-angle-y", G_CALLBACK(countNotify), &turns);
    clickAt(1280 - 78, 64);
    settle();
    EXPECT_TRUE(scene->isFullScreen());
    EXPECT_TRUE(stageFullScreenRequested());
    cSettings* settings = cSettings::instance();
    EXPECT_NE(settings->getInteger(u"window_main_pos_x", -65535), -65535);
    EXPECT_NE(settings->getInteger(u"window_main_pos_y", -65535), -65535);
    EXPECT_EQ(settings->getInteger(u"window_main_size_x", -65535), 1280);
    EXPECT_EQ(settings->getInteger(u"window_main_size_y", -65535), 1024);
    EXPECT_FALSE(settings->getBoolean(u"window_main_maxi", true));
    EXPECT_EQ(clutter_actor_get_width(video), 1280);
    EXPECT_EQ(clutter_actor_get_height(video), 960);
    waitForEffectsToEnd();
    EXPECT_GT(turns, 0);
    g_signal_handler_disconnect(scene->fullScreenButton(), spinHandler);
    EXPECT_FLOAT_EQ(depthOf(video), 0);
    EXPECT_FLOAT_EQ(depthOf(scene->reflection()), 0);
    EXPECT_FALSE(CLUTTER_ACTOR_IS_VISIBLE(sliderGroup(scene)));

    // A new frame size in full screen: stretched to the stage's height.
    g_signal_emit_by_name(video, "size-change", 320, 240);
    EXPECT_EQ(clutter_actor_get_width(video), 1365);
    EXPECT_EQ(clutter_actor_get_height(video), 1024);
    positionOf(scene->reflection(), x, y);
    EXPECT_FLOAT_EQ(x, (1280 - 1365) / 2);
    EXPECT_FLOAT_EQ(y, 0 + 1024 + 5);

    // Leaving full screen: the zoom is back, the slider too.
    showControlsAndWait(scene);
    EXPECT_FALSE(CLUTTER_ACTOR_IS_VISIBLE(sliderGroup(scene))) << "hidden in full screen while the controls show";
    clickAt(1280 - 78, 64);
    settle();
    EXPECT_FALSE(scene->isFullScreen());
    EXPECT_FALSE(stageFullScreenRequested());
    waitForEffectsToEnd();
    EXPECT_FLOAT_EQ(depthOf(video), 250);
    EXPECT_TRUE(CLUTTER_ACTOR_IS_VISIBLE(sliderGroup(scene)));
    EXPECT_EQ(clutter_actor_get_width(video), 320);

    // Back in full screen: full screen is left and the window put back
    // where it was before the home scene is asked for.
    showControlsAndWait(scene);
    clickAt(1280 - 78, 64);
    settle();
    ASSERT_TRUE(scene->isFullScreen());
    ASSERT_TRUE(stageFullScreenRequested());
    const int storedX = settings->getInteger(u"window_main_pos_x", -65535);
    const int storedY = settings->getInteger(u"window_main_pos_y", -65535);
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    XMoveWindow(display, windowTableEntry(0).window, storedX + 37, storedY + 23);
    XSync(display, False);
    XCloseDisplay(display);
    runMainLoopFor(20);
    waitForEffectsToEnd();
    clickAt(30 + 20, 1024 - 100 + 20);
    settle();
    ASSERT_TRUE(runMainLoopUntil([] { return atHome.built == 1; }, 3000));
    EXPECT_FALSE(atHome.stageFullScreen);
    ASSERT_TRUE(atHome.placementRead);
    EXPECT_EQ(atHome.windowX, storedX);
    EXPECT_EQ(atHome.windowY, storedY);
    EXPECT_NE(dynamic_cast<cIdleScene*>(currentScene), nullptr);
    EXPECT_EQ(cPlayerManager::instance()->currentPlayer(), nullptr);
}

// After the full-screen road, for the same reason: the keys' table, from
// the windowed player to the home scene.
TEST_F(PlayerSceneTest, KeysTurnTheVolumeMuteToggleFullScreenAndGoBack)
{
    cSettings* settings = cSettings::instance();
    settings->setInteger(u"volume", 50);
    settings->setBoolean(u"muted", false);
    cPlayerScene* scene = playClip();
    ASSERT_NE(scene, nullptr);
    cVideoPlayer* player = cPlayerManager::instance()->currentPlayer();
    ASSERT_NE(player, nullptr);
    ASSERT_TRUE(runMainLoopUntil([player] { return player->isLoaded(); }, 10000));

    struct sStep {
        guint key;
        int volume;
        bool muted;
        bool fullScreen;
    };
    const sStep steps[] = {
        {CLUTTER_KEY_Right, 55, false, false},
        {CLUTTER_KEY_KP_Add, 60, false, false},
        {CLUTTER_KEY_equal, 65, false, false},
        {CLUTTER_KEY_Left, 60, false, false},
        {CLUTTER_KEY_minus, 55, false, false},
        {CLUTTER_KEY_KP_Subtract, 50, false, false},
        {CLUTTER_KEY_m, 50, true, false},
        {CLUTTER_KEY_M, 50, false, false},
        {CLUTTER_KEY_f, 50, false, true},
        {CLUTTER_KEY_F11, 50, false, false},
        {CLUTTER_KEY_F, 50, false, true},
        {CLUTTER_KEY_Escape, 50, false, false}, // leaves full screen only
        {CLUTTER_KEY_space, 50, false, false},
    };
    for (const sStep& step : steps) {
        SCOPED_TRACE(step.key);
        typeKey(step.key);
        settle();
        ASSERT_EQ(currentScene, scene);
        EXPECT_EQ(scene->volumeKnob()->getValue(), step.volume);
        EXPECT_EQ(player->getVolume(), step.volume);
        EXPECT_EQ(settings->getInteger(u"volume", -1), step.volume);
        EXPECT_EQ(player->isMuted(), step.muted);
        EXPECT_EQ(settings->getBoolean(u"muted", !step.muted), step.muted);
        EXPECT_EQ(scene->volumeKnob()->isMuted(), step.muted);
        EXPECT_EQ(scene->isFullScreen(), step.fullScreen);
        EXPECT_EQ(stageFullScreenRequested(), step.fullScreen);
        waitForEffectsToEnd();
    }
    // The volume keys show the controls, where the knob can be seen.
    EXPECT_TRUE(scene->controlsVisible());

    // A double click on the picture toggles full screen; a single click
    // does nothing.
    for (bool fullScreen : {true, false}) {
        doubleClickAt(400, 300);
        settle();
        EXPECT_EQ(scene->isFullScreen(), fullScreen);
        waitForEffectsToEnd();
    }
    clickAt(400, 300);
    settle();
    EXPECT_FALSE(scene->isFullScreen());
    // A double click on the full-screen button toggles once (the toolkit
    // counts the second double click's presses on as the third and fourth).
    for (bool fullScreen : {true, false}) {
        showControlsAndWait(scene);
        doubleClickAt(clutter_actor_get_width(stageActor()) - 78, 64);
        settle();
        EXPECT_EQ(scene->isFullScreen(), fullScreen);
        waitForEffectsToEnd();
    }
    // Its second press on the picture, where a window manager's resize
    // has moved the button away from under the pointer, toggles nothing.
    showControlsAndWait(scene);
    guint secondCount = 0;
    const gulong counter = g_signal_connect(
        stage(), "captured-event", G_CALLBACK(+[](ClutterActor*, ClutterEvent* event, gpointer count) -> gboolean {
            if (clutter_event_type(event) == CLUTTER_BUTTON_PRESS) {
                *static_cast<guint*>(count) = clutter_event_get_click_count(event);
            }
            return FALSE;
        }),
        &secondCount);
    const float buttonX = clutter_actor_get_width(stageActor()) - 78;
    const guint32 now = static_cast<guint32>(g_get_monotonic_time() / 1000);
    clickAt(buttonX, 64, now);
    settle();
    EXPECT_TRUE(scene->isFullScreen());
    clutter_actor_set_position(scene->fullScreenButton(), 78, 300);
    clickAt(buttonX, 64, now + 50);
    settle();
    g_signal_handler_disconnect(stage(), counter);
    ASSERT_EQ(secondCount % 2, 0u) << "the toolkit did not count the presses as a double click";
    EXPECT_TRUE(scene->isFullScreen());
    typeKey(CLUTTER_KEY_Escape);
    settle();
    EXPECT_FALSE(scene->isFullScreen());
    waitForEffectsToEnd();
    // And the picture's double click still toggles after it.
    doubleClickAt(400, 300);
    settle();
    EXPECT_TRUE(scene->isFullScreen());
    typeKey(CLUTTER_KEY_Escape);
    settle();
    EXPECT_FALSE(scene->isFullScreen());
    waitForEffectsToEnd();

    // F held down toggles once, however often the desktop repeats it.
    pressKey(CLUTTER_KEY_f);
    settle();
    pressKey(CLUTTER_KEY_f);
    pressKey(CLUTTER_KEY_f);
    settle();
    releaseKey(CLUTTER_KEY_f);
    settle();
    EXPECT_TRUE(scene->isFullScreen());
    typeKey(CLUTTER_KEY_Escape);
    settle();
    EXPECT_FALSE(scene->isFullScreen());
    EXPECT_EQ(currentScene, scene);
    waitForEffectsToEnd();

    // Windowed, Escape goes back as the back button does.
    typeKey(CLUTTER_KEY_Escape);
    settle();
    EXPECT_NE(dynamic_cast<cIdleScene*>(currentScene), nullptr);
    EXPECT_EQ(atHome.built, 1);
    EXPECT_FALSE(stageFullScreenRequested());
}

// The calls the screen-saver service has had, once `count` have come.
static std::vector<std::string> screenSaverCalls(cScreenSaverService& service, size_t count)
{
    runMainLoopUntil([&] { return service.calls().size() >= count; }, 10000);
    runMainLoopFor(100); // one too many would show here
    return service.calls();
}

TEST_F(PlayerSceneTest, TheScreenStaysAwakeExactlyWhilePicturesShow)
{
    ASSERT_TRUE(sScreenSaver->ready()) << sScreenSaver->failure();
    sScreenSaver->clear();

    // A channel plays: one Inhibit; back: the matching UnInhibit.
    cPlayerScene* scene = playClip();
    ASSERT_NE(scene, nullptr);
    EXPECT_TRUE(screenKeptAwake());
    EXPECT_EQ(screenSaverCalls(*sScreenSaver, 1), (std::vector<std::string>{"Inhibit 1"}));
    typeKey(CLUTTER_KEY_Escape);
    settle();
    EXPECT_FALSE(screenKeptAwake());
    EXPECT_EQ(screenSaverCalls(*sScreenSaver, 2), (std::vector<std::string>{"Inhibit 1", "UnInhibit 1"}));
    waitForEffectsToEnd();

    // A channel that never shows a picture asks for nothing.
    ASSERT_NE(play(u"Unreachable"), nullptr);
    ASSERT_TRUE(runMainLoopUntil([] { return dynamic_cast<cIdleScene*>(currentScene) != nullptr; }, 15000));
    runMainLoopFor(300);
    EXPECT_EQ(sScreenSaver->calls().size(), 2u);
    waitForEffectsToEnd();

    // One that shows pictures and then fails lets go when it fails.
    ASSERT_NE(play(u"Brief TV"), nullptr);
    EXPECT_EQ(screenSaverCalls(*sScreenSaver, 3).back(), "Inhibit 2");
    ASSERT_TRUE(runMainLoopUntil([] { return dynamic_cast<cIdleScene*>(currentScene) != nullptr; }, 20000));
    EXPECT_EQ(screenSaverCalls(*sScreenSaver, 4).back(), "UnInhibit 2");
    EXPECT_FALSE(screenKeptAwake());
    waitForEffectsToEnd();

    // At exit, in the shutdown's order and without the main loop running
    // any more: the release reaches the desktop all the same.
    ASSERT_NE(playClip(), nullptr);
    EXPECT_EQ(screenSaverCalls(*sScreenSaver, 5).back(), "Inhibit 3");
    cPlayerManager::instance()->destroyCurrentPlayer();
    closeCurrentScene();
    releaseScreenAwake();
    for (int i = 0; i < 200 && sScreenSaver->calls().size() < 6; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(sScreenSaver->calls(),
              (std::vector<std::string>{"Inhibit 1", "UnInhibit 1", "Inhibit 2", "UnInhibit 2", "Inhibit 3",
                                        "UnInhibit 3"}));
}

TEST_F(PlayerSceneTest, ZappingThroughABrowserListAndBackPassesADeadChannel)
{
    cSettings::instance()->setInteger(u"volume", 35);
    // The browser's list of Zapland's channels, through its keys: the
    // filters, then the first channel, then Enter.
    requestChannelsScene();
    ASSERT_TRUE(runMainLoopUntil([] { return dynamic_cast<cChannelsScene*>(currentScene) != nullptr; }, 5000));
    auto* browser = dynamic_cast<cChannelsScene*>(currentScene);
    waitForEffectsToEnd();
    for (guint key : {CLUTTER_KEY_Tab, CLUTTER_KEY_Tab, CLUTTER_KEY_Down, CLUTTER_KEY_Down, CLUTTER_KEY_Tab,
                      CLUTTER_KEY_Down}) {
        typeKey(key);
        settle();
        waitForEffectsToEnd();
    }
    ASSERT_EQ(browser->countryList().getActiveText(), u"Zapland");
    ASSERT_EQ(browser->channelList().getActiveText(), u"A One");
    typeKey(CLUTTER_KEY_Return);
    settle();
    ASSERT_TRUE(runMainLoopUntil([] { return currentPlayerScene() != nullptr; }, 5000));
    cPlayerScene* scene = currentPlayerScene();
    EXPECT_FALSE(scene->zapCaptionShown()); // chosen in the browser, not zapped to

    const auto titleIs = [](const char* title) { return std::string(clutter_stage_get_title(stage())) == title; };
    // Each key: the channel it leads to, whether it plays.
    struct sStep {
        guint key;
        const char* channel;
        bool plays;
    };
    const sStep steps[] = {
        {CLUTTER_KEY_Down, "B Dead", false},      {CLUTTER_KEY_Page_Down, "C Three", true},
        {CLUTTER_KEY_Down, "A One", true},        // wraps
        {CLUTTER_KEY_Up, "C Three", true},        // and back
        {CLUTTER_KEY_Page_Up, "B Dead", false},   {CLUTTER_KEY_Up, "A One", true},
    };
    for (const sStep& step : steps) {
        SCOPED_TRACE(step.channel);
        cPlayerScene* before = currentPlayerScene();
        typeKey(step.key);
        settle();
        ASSERT_TRUE(runMainLoopUntil(
            [&] { return currentPlayerScene() != nullptr && currentPlayerScene() != before; }, 5000));
        scene = currentPlayerScene();
        EXPECT_TRUE(titleIs(step.channel));
        // The name shows, for two seconds when the channel plays.
        EXPECT_TRUE(scene->zapCaptionShown());
        const std::string caption = clutter_text_get_text(CLUTTER_TEXT(scene->zapCaption()));
        EXPECT_EQ(caption.rfind(step.channel, 0), 0u) << caption;
        if (step.plays) {
            ASSERT_TRUE(runMainLoopUntil(
                [] {
                    cVideoPlayer* player = cPlayerManager::instance()->currentPlayer();
                    return player != nullptr && player->isLoaded();
                },
                15000));
            EXPECT_TRUE(runMainLoopUntil([scene] { return !scene->zapCaptionShown(); }, 4000));
        } else {
            // It says why and stays: the player scene, not the home scene.
            ASSERT_TRUE(runMainLoopUntil(
                [scene] {
                    const std::string text = clutter_text_get_text(CLUTTER_TEXT(scene->zapCaption()));
                    return text.find(" does not play: ") != std::string::npos;
                },
                15000));
            runMainLoopFor(300);
            EXPECT_EQ(currentScene, scene);
            EXPECT_TRUE(scene->zapCaptionShown());
            EXPECT_EQ(atHome.built, 0);
            EXPECT_FALSE(screenKeptAwake());
        }
        // What playing from the browser keeps: the volume, the recent list.
        EXPECT_EQ(scene->volumeKnob()->getValue(), 35);
        EXPECT_EQ(kestrel::toUtf8(cRecent::instance()->entryName(0)), step.channel);
        waitForEffectsToEnd();
    }
    EXPECT_TRUE(isZapping());

    // Held down, the keys queue no more than one switch: two presses in
    // one go play the channel two on, and only that one (each player
    // scene names its channel in the title as it shows).
    static std::vector<std::string> titles;
    titles.clear();
    const gulong titleHandler = g_signal_connect(stage(), "notify::title", G_CALLBACK(+[](GObject*, GParamSpec*, gpointer) {
        titles.emplace_back(clutter_stage_get_title(stage()));
    }), nullptr);
    cPlayerScene* before = currentPlayerScene();
    pressKey(CLUTTER_KEY_Down);
    pressKey(CLUTTER_KEY_Down);
    releaseKey(CLUTTER_KEY_Down);
    settle();
    ASSERT_TRUE(runMainLoopUntil([&] { return currentPlayerScene() != before; }, 5000));
    runMainLoopFor(300);
    g_signal_handler_disconnect(stage(), titleHandler);
    EXPECT_EQ(titles, (std::vector<std::string>{"C Three"}));
    EXPECT_EQ(cRecent::instance()->entryName(0), u"C Three");

    // The user stops: Escape goes home, and zapping ends.
    typeKey(CLUTTER_KEY_Escape);
    settle();
    EXPECT_NE(dynamic_cast<cIdleScene*>(currentScene), nullptr);
    EXPECT_FALSE(isZapping());
}

TEST(GuideLinesText, TheProgrammesSpanAndTheMinutesLeft)
{
    // The span in the user's time zone; the minutes left rounded up, so
    // that a programme in its last seconds still has one.
    cProgramme programme;
    programme.start = 1000;
    programme.stop = 4600;
    programme.title = "News";
    EXPECT_EQ(programmeSpan(programme), formatLocalClock(1000) + "\u2013" + formatLocalClock(4600) + " News");
    const struct {
        int64_t stop, now, minutes;
    } cases[] = {{4600, 1000, 60}, {4600, 4599, 1}, {4600, 4541, 1}, {4600, 4540, 1}, {4600, 4539, 2},
                 {4600, 4600, 0}, {4600, 5000, 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(minutesLeft(c.stop, c.now), c.minutes) << c.stop << " " << c.now;
    }
}

// A channel the guide knows shows what is on now and next under its name,
// and the lines move on when the programme ends while it plays; one the
// guide does not know shows no guide line at all.
TEST_F(PlayerSceneTest, TheGuidesLinesShowWhatIsOnAndFollowTheProgrammes)
{
    const int64_t now = currentUtc();
    const std::string guide = sFolder->path() + "/guide.xml";
    std::ofstream(guide) << "<tv><channel id=\"loop\"><display-name>LOOPBACK tv</display-name></channel>"
                         << "<programme channel=\"loop\" start=\"" << formatXmltvTime(now - 600) << "\" stop=\""
                         << formatXmltvTime(now + 3) << "\"><title>Morning Show</title></programme>"
                         << "<programme channel=\"loop\" start=\"" << formatXmltvTime(now + 3) << "\" stop=\""
                         << formatXmltvTime(now + 3603) << "\"><title>Midday &amp; More</title></programme></tv>";
    ASSERT_EQ(refreshGuide({guide}, kestrel::fromUtf8(sChannels), cGuideLimits(), now, [] { return false; }).result,
              eGuideRefresh::Installed);
    const auto text = [](ClutterActor* label) { return std::string(clutter_text_get_text(CLUTTER_TEXT(label))); };

    // Matched by its name, without regard to case.
    cPlayerScene* scene = playClip();
    ASSERT_NE(scene, nullptr);
    EXPECT_EQ(text(scene->guideNowLabel()),
              "Now: " + formatLocalClock(now - 600) + "\u2013" + formatLocalClock(now + 3) + " Morning Show");
    EXPECT_EQ(text(scene->guideNextLabel()),
              "Next: " + formatLocalClock(now + 3) + "\u2013" + formatLocalClock(now + 3603) + " Midday & More");
    EXPECT_TRUE(CLUTTER_ACTOR_IS_VISIBLE(scene->guideNowLabel()));
    EXPECT_TRUE(CLUTTER_ACTOR_IS_VISIBLE(scene->guideNextLabel()));
    // In the controls, under the name, the next line below the first.
    EXPECT_EQ(clutter_actor_get_parent(scene->guideNowLabel()), scene->controlsGroup());
    EXPECT_GT(clutter_actor_get_y(scene->guideNowLabel()),
              clutter_actor_get_y(scene->nameLabel()) + clutter_actor_get_height(scene->nameLabel()) - 1);
    EXPECT_GT(clutter_actor_get_y(scene->guideNextLabel()), clutter_actor_get_y(scene->guideNowLabel()));
    // A zap's caption stands below them, not over them.
    EXPECT_GE(clutter_actor_get_y(scene->zapCaption()),
              clutter_actor_get_y(scene->guideNextLabel()) + clutter_actor_get_height(scene->guideNextLabel()));

    // The morning show ends while the channel plays: the lines move on.
    EXPECT_TRUE(runMainLoopUntil([&] { return text(scene->guideNowLabel()).find("Midday") != std::string::npos; },
                                 8000))
        << text(scene->guideNowLabel());
    EXPECT_FALSE(CLUTTER_ACTOR_IS_VISIBLE(scene->guideNextLabel()));

    // A channel the guide does not know: nothing extra.
    cPlayerScene* square = play(u"Square TV");
    ASSERT_NE(square, nullptr);
    EXPECT_FALSE(CLUTTER_ACTOR_IS_VISIBLE(square->guideNowLabel()));
    EXPECT_FALSE(CLUTTER_ACTOR_IS_VISIBLE(square->guideNextLabel()));
    std::filesystem::remove(sChannels + "/guide");
}

// Zapping onto a playlist that cannot be fetched is zapping onto a channel
// that does not play: the scene that stood during the fetch says why and
// stays, rather than leaving for home.
TEST_F(PlayerSceneTest, ZappingOntoAPlaylistThatCannotBeFetchedSaysWhyAndStays)
{
    cPlayerScene* scene = playClip();
    ASSERT_NE(scene, nullptr);
    setZapList({{u"Testland", u"News", u"Loopback TV"}, {u"Testland", u"News", u"Lost Playlist"}}, 0);
    typeKey(CLUTTER_KEY_Down);
    ASSERT_TRUE(runMainLoopUntil([scene] { return currentPlayerScene() != nullptr && currentPlayerScene() != scene; },
                                 5000));
    cPlayerScene* waiting = currentPlayerScene();
    ASSERT_TRUE(runMainLoopUntil(
        [waiting] {
            return currentScene != waiting ||
                   std::string(clutter_text_get_text(CLUTTER_TEXT(waiting->zapCaption())))
                           .find(" does not play: ") != std::string::npos;
        },
        15000));
    ASSERT_EQ(currentScene, waiting) << "the scene that stood during the fetch went";
    const std::string caption = clutter_text_get_text(CLUTTER_TEXT(waiting->zapCaption()));
    // Its server is not there: the connection was refused.
    EXPECT_EQ(caption, "Lost Playlist does not play: the server refused the connection") << caption;
    runMainLoopFor(300);
    EXPECT_EQ(currentScene, waiting);
    EXPECT_EQ(atHome.built, 0);
    EXPECT_EQ(cPlayerManager::instance()->currentPlayer(), nullptr);
}

// A channel that does not play outside zapping returns to the home scene,
// which says which channel and why, in the user's language, within the
// stage, for about six seconds.
TEST_F(PlayerSceneTest, TheHomeSceneSaysWhyAChannelDidNotPlayInTheUsersLanguage)
{
    const std::u16string applicationFolder = kestrel::cSystem::getApplicationPath();
    // A playlist whose server is not there, and a stream whose server is
    // not: the fetch fails, and the player does.
    struct {
        const char16_t* language;
        const char16_t* channel;
        const char* expected;
    } cases[] = {
        {u"english", u"Lost Playlist", "Lost Playlist does not play: the server refused the connection"},
        {u"german", u"Lost Playlist",
         "Lost Playlist l\u00e4sst sich nicht abspielen: der Server hat die Verbindung abgelehnt"},
        {u"english", u"Unreachable", "Unreachable does not play: the server refused the connection"},
        {u"german", u"Unreachable",
         "Unreachable l\u00e4sst sich nicht abspielen: der Server hat die Verbindung abgelehnt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(kestrel::toUtf8(c.language) + ", " + kestrel::toUtf8(c.channel));
        clearLanguage();
        ASSERT_TRUE(loadLanguage(languageFilePath(applicationFolder, c.language)));
        cScene* before = currentScene;
        play(c.channel);
        ASSERT_TRUE(runMainLoopUntil(
            [before] { return dynamic_cast<cIdleScene*>(currentScene) != nullptr && currentScene != before; },
            15000));
        auto* home = dynamic_cast<cIdleScene*>(currentScene);
        const double shownAt = nowMilliseconds();
        waitForEffectsToEnd();
        ClutterActor* caption = home->failureCaption();
        ASSERT_TRUE(CLUTTER_ACTOR_IS_VISIBLE(caption));
        EXPECT_STREQ(clutter_text_get_text(CLUTTER_TEXT(caption)), c.expected);
        // Whole, within the stage, above the scene's own caption.
        gfloat x = 0, y = 0;
        clutter_actor_get_transformed_position(caption, &x, &y);
        EXPECT_GE(x, 0.0f);
        EXPECT_LE(x + clutter_actor_get_width(caption), clutter_actor_get_width(stageActor()));
        EXPECT_LT(y + clutter_actor_get_height(caption), clutter_actor_get_y(home->caption()) + 1.0f);
        EXPECT_FALSE(pango_layout_is_ellipsized(clutter_text_get_layout(CLUTTER_TEXT(caption))));
        // Then it goes, and the home scene stays.
        ASSERT_TRUE(runMainLoopUntil([caption] { return !CLUTTER_ACTOR_IS_VISIBLE(caption); }, 9000));
        const double shownFor = nowMilliseconds() - shownAt;
        EXPECT_GT(shownFor, IdleFailureMilliseconds - 1000.0);
        EXPECT_LT(shownFor, IdleFailureMilliseconds + 1500.0);
        EXPECT_EQ(currentScene, home);
        // Nothing is left for the next home scene.
        EXPECT_FALSE(takeFailureToShow().has_value());
    }
    clearLanguage();
}

// Outside text of any length stays within the stage: the channel's name
// ends in an ellipsis between the buttons beside it, and the failure
// caption (the name, the language's words, the framework's reason) wraps
// within the stage, in every language.
TEST_F(PlayerSceneTest, LongNamesAndReasonsStayWithinTheStageInEveryLanguage)
{
    cPlayerScene* scene = play(kestrel::fromUtf8(LongChannelName).c_str());
    ASSERT_NE(scene, nullptr);
    waitForEffectsToEnd();
    const float sw = clutter_actor_get_width(stageActor());
    // Where a label's drawn text lies on the stage, and how wide the text
    // it lays out is.
    const auto extents = [](ClutterActor* label, float& left, float& right, float& textWidth) {
        gfloat x = 0, y = 0;
        clutter_actor_get_transformed_position(label, &x, &y);
        left = x;
        right = x + clutter_actor_get_width(label);
        PangoRectangle logical = {};
        pango_layout_get_pixel_extents(clutter_text_get_layout(CLUTTER_TEXT(label)), nullptr, &logical);
        textWidth = static_cast<float>(logical.width);
    };

    showControlsAndWait(scene);
    float left = 0, right = 0, textWidth = 0;
    extents(scene->nameLabel(), left, right, textWidth);
    EXPECT_TRUE(pango_layout_is_ellipsized(clutter_text_get_layout(CLUTTER_TEXT(scene->nameLabel()))));
    EXPECT_GE(left, 78.0f + 24.0f);
    EXPECT_LE(right, sw - 78.0f - 24.0f);
    EXPECT_LE(textWidth, right - left + 1.0f);

    const std::u16string applicationFolder = kestrel::cSystem::getApplicationPath();
    const std::vector<std::u16string> languages = availableLanguages(applicationFolder);
    ASSERT_GE(languages.size(), 11u);
    for (const std::u16string& language : languages) {
        SCOPED_TRACE(kestrel::toUtf8(language));
        clearLanguage();
        ASSERT_TRUE(loadLanguage(languageFilePath(applicationFolder, language)));
        sPlayFailure notFound;
        notFound.kind = sPlayFailure::KindHttpStatus;
        notFound.httpStatus = 404;
        sPlayFailure missing;
        missing.kind = sPlayFailure::KindUnsupportedFormat;
        missing.format = "video/x-a-very-long-format-name-from-the-framework-that-has-no-blanks-at-all-in-it";
        for (const sPlayFailure& failure : {notFound, missing}) {
            const std::string why = failureReasonText(failure);
            scene->showZapFailure(sChannelFailure{kestrel::fromUtf8(LongChannelName), failure});
            settle();
            ClutterActor* caption = scene->zapCaption();
            ASSERT_TRUE(scene->zapCaptionShown());
            // The whole text, on lines no wider than the label, which
            // stands within the stage.
            const std::string text = clutter_text_get_text(CLUTTER_TEXT(caption));
            // Where the name stands is the language's choice.
            EXPECT_NE(text.find(LongChannelName), std::string::npos) << text;
            EXPECT_NE(text.find(why), std::string::npos) << text;
            extents(caption, left, right, textWidth);
            EXPECT_GE(left, 0.0f) << text;
            EXPECT_LE(right, sw) << text;
            EXPECT_LE(textWidth, right - left + 1.0f) << text;
            EXPECT_FALSE(pango_layout_is_ellipsized(clutter_text_get_layout(CLUTTER_TEXT(caption))));
        }
    }
    clearLanguage();
}

// Zapping from the home carousel goes through the recent channels as the
// carousel showed them, and from the favourites through the favourites;
// both wrap at the ends and pass a dead channel by saying why.
TEST_F(PlayerSceneTest, ZappingFromTheHomeCarouselAndTheFavouritesWrapsAndPassesADeadChannel)
{
    // Zapland's three channels as the recent ones (A One watched last) and
    // as the only favourites, in this order.
    // (An entry keeps its place only with a picture: one without is taken
    // over by the next channel watched.)
    cRecent::destroyInstance();
    const std::vector<uint8_t> picture = makePicture(64, 48, {255, 0, 0}, {0, 0, 255});
    for (const char16_t* name : {u"C Three", u"B Dead", u"A One"}) {
        cRecent::instance()->add(u"Zapland", name, u"News");
        ASSERT_TRUE(cRecent::instance()->savePicture(picture.data(), 64, 48));
    }
    ASSERT_EQ(cRecent::instance()->entryCount(), 3);
    cPlayerDatabase::destroyInstance();
    std::filesystem::remove(sChannels + "/favorites.xml");
    ASSERT_TRUE(cPlayerDatabase::instance()->open(kestrel::fromUtf8(sChannels)));
    cPlayerDatabase* database = cPlayerDatabase::instance();
    const std::string dead = "http://127.0.0.1:" + std::to_string(closedPort()) + "/gone.mkv";
    database->addFavourite(u"A One", u"", kestrel::fromUtf8(sServer->url("/long.mkv")));
    database->addFavourite(u"B Dead", u"", kestrel::fromUtf8(dead));
    database->addFavourite(u"C Three", u"", kestrel::fromUtf8(sServer->url("/square.mkv")));
    ASSERT_EQ(database->favouriteNames().size(), 3u);

    struct sStep {
        guint key;
        const char* channel;
        bool plays;
    };
    const struct {
        const char* from;
        void (*request)();
        std::vector<guint> keys; // what plays A One there
        cPlayerDatabase::eMode mode;
        std::vector<sStep> steps;
    } cases[] = {
        {"home", requestHomeScene, {CLUTTER_KEY_Return}, cPlayerDatabase::ModeCatalogue,
         {{CLUTTER_KEY_Down, "B Dead", false}, {CLUTTER_KEY_Down, "C Three", true}, {CLUTTER_KEY_Down, "A One", true}}},
        {"favourites", requestFavoritesScene, {CLUTTER_KEY_Down, CLUTTER_KEY_Return}, cPlayerDatabase::ModeFavourite,
         {{CLUTTER_KEY_Up, "C Three", true}, {CLUTTER_KEY_Up, "B Dead", false}, {CLUTTER_KEY_Up, "A One", true}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.from);
        c.request();
        ASSERT_TRUE(runMainLoopUntil([] { return currentScene != nullptr && currentPlayerScene() == nullptr; }, 5000));
        waitForEffectsToEnd();
        for (guint key : c.keys) {
            typeKey(key);
            settle();
        }
        ASSERT_TRUE(runMainLoopUntil([] { return currentPlayerScene() != nullptr; }, 5000));
        EXPECT_STREQ(clutter_stage_get_title(stage()), "A One");
        EXPECT_EQ(database->mode(), c.mode);
        waitForEffectsToEnd();
        for (const sStep& step : c.steps) {
            expectZap(step.key, step.channel, step.plays);
            EXPECT_EQ(database->mode(), c.mode);
        }
        EXPECT_TRUE(isZapping());
        typeKey(CLUTTER_KEY_Escape);
        settle();
        ASSERT_TRUE(runMainLoopUntil([] { return dynamic_cast<cIdleScene*>(currentScene) != nullptr; }, 5000));
        waitForEffectsToEnd();
    }
}
