// The player manager and the play-channel procedure, with a real channel
// database and real clips served from loopback, on the test's display.
// The player scene itself, and the procedure's ASX fetch with it, are
// checked with the scenes.

#include "PlayerFixture.h"

#include "playback/PlayerManager.h"
#include "playback/Playback.h"

#include "app/MainLoop.h"
#include "app/Stage.h"
#include "catalogue/AddressCodec.h"
#include "catalogue/PlayerDatabase.h"
#include "kestrel/Log.h"
#include "kestrel/Unicode.h"
#include "state/Recent.h"

#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/SocketAddress.h>

#include <sqlite3.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <thread>

using namespace std::chrono_literals;

namespace {

cPlayList* playListFor(const std::string& url)
{
    return new cPlayList(kestrel::fromUtf8(url), u"Channel", u"About it");
}

// Makes the favourite with this address the current channel.
void chooseFavourite(const std::u16string& name, const std::string& url)
{
    cPlayerDatabase* database = cPlayerDatabase::instance();
    database->setCurrentCountry(u"Testland");
    database->setCurrentType(u"News");
    database->addFavourite(name, u"A channel for tests", kestrel::fromUtf8(url));
    const auto& names = database->favouriteNames();
    for (size_t i = 0; i < names.size(); ++i) {
        if (names[i] == name) {
            database->selectFavourite(static_cast<int>(i));
        }
    }
}

// A player scene with only a texture, which its show hands to the current
// player, as the real one does.
class cTextureScene : public cScene {
public:
    explicit cTextureScene(ClutterActor* root) : cScene(root)
    {
        texture = clutter_texture_new();
        clutter_actor_add_child(mRoot, texture);
    }
    ~cTextureScene() override { clutter_actor_remove_child(mRoot, texture); }
    void show() override
    {
        ++shown;
        playerAtShow = cPlayerManager::instance()->currentPlayer();
        if (playerAtShow != nullptr) {
            playerAtShow->setTexture(CLUTTER_TEXTURE(texture));
        }
    }
    void hide() override { delete this; }
    ClutterActor* texture;
    static int shown;
    static cVideoPlayer* playerAtShow;
};
int cTextureScene::shown = 0;
cVideoPlayer* cTextureScene::playerAtShow = nullptr;

// The texture scene is the player scene while it lives.
struct sTextureSceneInstalled {
    sTextureSceneInstalled()
    {
        cTextureScene::shown = 0;
        cTextureScene::playerAtShow = nullptr;
        setPlayerSceneFactory([](ClutterActor* root) { return new cTextureScene(root); });
    }
    ~sTextureSceneInstalled() { setPlayerSceneFactory({}); }
};

} // namespace

using PlayerManagerTest = PlayerTest;

TEST_F(PlayerManagerTest, ReapingReusesSlots)
{
    cPlayerManager* manager = cPlayerManager::instance();
    manager->waitForDestroyers();
    const size_t slots = manager->slotCount();

    // With no current player, only a reap.
    manager->destroyCurrentPlayer();
    EXPECT_EQ(manager->slotCount(), slots);
    EXPECT_EQ(manager->currentPlayer(), nullptr);

    // Two players whose loads block: both destroyers run side by side.
    ASSERT_TRUE(manager->createPlayer(playListFor(clipUrl("stall.mkv"))));
    manager->currentPlayer()->open();
    ASSERT_TRUE(manager->createPlayer(playListFor(clipUrl("stall.mkv")))); // the first goes to a destroyer
    manager->currentPlayer()->open();
    manager->destroyCurrentPlayer();
    EXPECT_EQ(manager->currentPlayer(), nullptr);
    const size_t busySlots = manager->slotCount();
    EXPECT_GE(busySlots, 2u);
    ASSERT_TRUE(pumpUntil([&] { return manager->runningDestroyers() == 0; }));

    // Finished destroyers leave their slots to the next ones: the list does
    // not grow.
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(manager->createPlayer(playListFor(clipUrl("av.mkv"))));
        manager->destroyCurrentPlayer();
        ASSERT_TRUE(pumpUntil([&] { return manager->runningDestroyers() == 0; }));
    }
    EXPECT_EQ(manager->slotCount(), busySlots);
    EXPECT_EQ(homeRequests(), 0);
}

TEST_F(PlayerManagerTest, DestroyerWithoutThreadStillTearsThePlayerDown)
{
    // The player's teardown ends by deleting its playlist: this one tells
    // when that happened.
    class cObservedPlayList : public cPlayList {
    public:
        cObservedPlayList(const std::string& url, std::atomic<bool>& deleted)
            : cPlayList(kestrel::fromUtf8(url), u"Channel", u"About it"), mDeleted(deleted)
        {
        }
        ~cObservedPlayList() override { mDeleted = true; }

    private:
        std::atomic<bool>& mDeleted;
    };

    std::atomic<bool> deleted{false};
    cPlayerManager* manager = cPlayerManager::instance();
    ASSERT_TRUE(manager->createPlayer(new cObservedPlayList(clipUrl("av.mkv"), deleted)));
    manager->currentPlayer()->open();
    ASSERT_TRUE(pumpUntil([&] { return manager->currentPlayer()->isLoaded(); }));
    kestrel::testing::failNextThreadCreation();
    manager->destroyCurrentPlayer();
    // Torn down on the spot, before the call returned: no thread was there
    // to do it later.
    EXPECT_TRUE(deleted.load());
    EXPECT_EQ(manager->currentPlayer(), nullptr);
    EXPECT_EQ(manager->runningDestroyers(), 0);
    EXPECT_EQ(homeRequests(), 0);
}

TEST_F(PlayerManagerTest, ChannelOfTheCataloguePlaysOnTheStage)
{
    // A catalogue file as the update installs it, with one channel.
    const std::string folder = sFolder->path() + "channels";
    std::filesystem::create_directories(folder);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((folder + "/database").c_str(), &db), SQLITE_OK);
    const std::string encoded = kestrel::toUtf8(encodeAddress(kestrel::fromUtf8(clipUrl("long.mkv"))));
    const std::string sql = "create table channels (country text, type text, name text, description text, url text);"
                            "insert into channels values ('Testland', 'News', 'Loopback TV', 'Made by the test', '" +
                            encoded + "');";
    ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    cPlayerDatabase* database = cPlayerDatabase::instance();
    ASSERT_TRUE(database->open(kestrel::fromUtf8(folder)));
    database->setCurrentCountry(u"Testland");
    database->setCurrentType(u"News");
    database->setCurrentName(u"Loopback TV");

    // The registered player scene is built once the player exists, and
    // its show hands the texture over.
    sTextureSceneInstalled textureScene;
    requestPlayerScene();
    cPlayerManager* manager = cPlayerManager::instance();
    ASSERT_TRUE(pumpUntil([&] { return manager->currentPlayer() != nullptr && manager->currentPlayer()->isLoaded(); }));
    ASSERT_TRUE(pumpUntil([] { return frameStats().uploaded >= 10; }));
    EXPECT_EQ(cTextureScene::shown, 1);
    EXPECT_EQ(cTextureScene::playerAtShow, manager->currentPlayer());
    EXPECT_NE(dynamic_cast<cTextureScene*>(currentScene), nullptr);
    EXPECT_EQ(kestrel::toUtf8(manager->currentPlayer()->getPlayList()->getName()), "Loopback TV");
    EXPECT_EQ(kestrel::toUtf8(manager->currentPlayer()->getPlayList()->getDescription()), "Made by the test");
    EXPECT_EQ(cRecent::instance()->entryName(0), u"Loopback TV");
    EXPECT_EQ(cRecent::instance()->entryCountry(0), u"Testland");

    // Every 125th frame becomes the channel's picture.
    EXPECT_TRUE(pumpUntil([] { return cRecent::instance()->entry(0).pictureCount >= 1; }, 10s));
    EXPECT_EQ(homeRequests(), 0);
    database->close();
}

TEST_F(PlayerManagerTest, TwoPlayRequestsInQuickSuccession)
{
    sTextureSceneInstalled textureScene;
    chooseFavourite(u"Twice", clipUrl("av.mkv"));
    requestPlayerScene();
    requestPlayerScene();
    cPlayerManager* manager = cPlayerManager::instance();
    ASSERT_TRUE(pumpUntil([&] { return manager->currentPlayer() != nullptr && manager->currentPlayer()->isLoaded(); }));
    ASSERT_TRUE(pumpUntil([&] { return manager->runningDestroyers() == 0; }));
    EXPECT_TRUE(pumpUntil([] { return frameStats().uploaded >= 3; }));
    EXPECT_TRUE(manager->currentPlayer()->isLoaded());
    EXPECT_EQ(homeRequests(), 0);
}

TEST_F(PlayerManagerTest, RecentListGetsTheChannelBeforeAFailingPlaylistFetch)
{
    const std::string url = "http://127.0.0.1:" + std::to_string(closedPort()) + "/list.asx";
    chooseFavourite(u"Unreachable", url);
    cLogLines log;
    requestPlayerScene();
    ASSERT_TRUE(pumpUntil([] { return homeRequests() == 1; }));
    const std::vector<std::string> lines = log.lines();
    // The fetch ran on the main loop: its line is there.
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("lumivex: playback: error: channel \"Unreachable\" at " + url +
                                  ": playlist fetch failed: Connection refused",
                              0),
              0u)
        << lines[0];
    EXPECT_EQ(cRecent::instance()->entryName(0), u"Unreachable");
    // A favourite is recorded for any country and type (see below).
    EXPECT_EQ(cRecent::instance()->entryCountry(0), u"*");
    EXPECT_EQ(cPlayerManager::instance()->currentPlayer(), nullptr);
}

// A favourite played once is replayed from its recent entry as the home
// carousel replays it: through the catalogue, by its country, type and
// name. The entry names any country and type, so the catalogue finds it
// whatever the filters of the last browse were.
TEST_F(PlayerManagerTest, AFavouriteReplaysFromItsRecentEntry)
{
    const std::string folder = sFolder->path() + "favourite-channels";
    std::filesystem::create_directories(folder);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((folder + "/database").c_str(), &db), SQLITE_OK);
    const std::string encoded = kestrel::toUtf8(encodeAddress(kestrel::fromUtf8(clipUrl("long.mkv"))));
    const std::string sql = "create table channels (country text, type text, name text, description text, url text);"
                            "insert into channels values ('Chile', 'Sport', 'Gol TV', 'Goals', '" + encoded + "');"
                            "insert into channels values ('Chile', 'News', 'Other TV', 'News', '" + encoded + "');";
    ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    cPlayerDatabase* database = cPlayerDatabase::instance();
    ASSERT_TRUE(database->open(kestrel::fromUtf8(folder)));
    database->addFavourite(u"Gol TV", u"Goals", kestrel::fromUtf8(clipUrl("long.mkv")));

    sTextureSceneInstalled textureScene;
    cPlayerManager* manager = cPlayerManager::instance();
    struct sCase {
        const char* what;
        const char16_t* country; // the catalogue filters when the favourite is played
        const char16_t* type;
    } const cases[] = {
        {"after a fresh start", u"", u""},
        {"after browsing elsewhere", u"Chile", u"News"},
    };
    for (const sCase& c : cases) {
        SCOPED_TRACE(c.what);
        database->setCurrentCountry(c.country);
        database->setCurrentType(c.type);
        database->setCurrentName(u"Other TV");
        database->selectFavourite(0);
        requestPlayerScene();
        ASSERT_TRUE(pumpUntil([&] { return manager->currentPlayer() != nullptr && manager->currentPlayer()->isLoaded(); }));
        cRecent* recent = cRecent::instance();
        ASSERT_EQ(recent->entryName(0), u"Gol TV");
        EXPECT_EQ(recent->entryCountry(0), u"*");
        EXPECT_EQ(recent->entryType(0), u"*");
        const int entries = recent->entryCount();

        // The carousel's click on the entry.
        database->setCurrentCountry(recent->entryCountry(0));
        database->setCurrentType(recent->entryType(0));
        database->setCurrentName(recent->entryName(0));
        const int shown = cTextureScene::shown;
        requestPlayerScene();
        ASSERT_TRUE(pumpUntil([&] {
            return cTextureScene::shown > shown && manager->currentPlayer() != nullptr &&
                   manager->currentPlayer()->isLoaded();
        }));
        EXPECT_EQ(kestrel::toUtf8(manager->currentPlayer()->getPlayList()->getUrl()), clipUrl("long.mkv"));
        EXPECT_EQ(recent->entryCount(), entries) << "the replay is the same entry";
        EXPECT_EQ(recent->entryName(0), u"Gol TV");
        EXPECT_EQ(homeRequests(), 0);
        manager->destroyCurrentPlayer();
        closeCurrentScene();
        ASSERT_TRUE(pumpUntil([&] { return manager->runningDestroyers() == 0; }));
    }
    database->close();
}

TEST_F(PlayerManagerTest, FailedOpenLeadsHomeAndDestroysThePlayer)
{
    chooseFavourite(u"Missing film", clipUrl("missing.mkv"));
    requestPlayerScene();
    ASSERT_TRUE(pumpUntil([] { return homeRequests() == 1; }));
    // The switch to the home scene destroyed the player.
    EXPECT_EQ(cPlayerManager::instance()->currentPlayer(), nullptr);
    EXPECT_TRUE(pumpUntil([] { return cPlayerManager::instance()->runningDestroyers() == 0; }));
}

// --- the ASX playlist fetched off the main loop -----------------------------

namespace {

// An ASX playlist whose server answers with its headers at once and holds
// the body back until the test opens the gate (or the server stops).
struct sGatedPlaylist {
    std::atomic<bool> open{false};
    std::atomic<bool> written{false};
};

void addGatedPlaylist(cTestHttpServer& server, const std::string& path, const std::string& refUrl,
                      const std::shared_ptr<sGatedPlaylist>& gate)
{
    server.addGenerator(path, "video/x-ms-asf", [refUrl, gate](std::ostream& body, const std::function<bool()>& stopping) {
        while (!gate->open && !stopping()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        if (gate->open) {
            body << "<asx version=\"3.0\"><entry><ref href=\"" << refUrl << "\"/></entry></asx>";
            body.flush();
        }
        gate->written = true;
    });
}

// Counts the main loop's timeouts and idle callbacks while it runs.
struct sLoopProbe {
    int timeouts = 0;
    int idles = 0;
    guint timer = 0;
    static gboolean tick(gpointer self)
    {
        auto* probe = static_cast<sLoopProbe*>(self);
        ++probe->timeouts;
        postToMainLoop(PriorityFrameUpload, [probe] { ++probe->idles; });
        return G_SOURCE_CONTINUE;
    }
    sLoopProbe() { timer = g_timeout_add(20, tick, this); }
    ~sLoopProbe()
    {
        g_source_remove(timer);
        pumpFor(std::chrono::milliseconds(20)); // the last idle callbacks
    }
};

} // namespace

class AsxFetchTest : public PlayerTest {
protected:
    void SetUp() override
    {
        PlayerTest::SetUp();
        mGate = std::make_shared<sGatedPlaylist>();
        addGatedPlaylist(mServer, "/gated.asx", clipUrl("long.mkv"), mGate);
    }

    void TearDown() override
    {
        mGate->open = true;
        ASSERT_TRUE(pumpUntil([] { return runningPlaylistFetches() == 0; }));
        PlayerTest::TearDown();
    }

    // Asks for the gated channel and waits until its fetch is held by the
    // server.
    void playGatedChannel()
    {
        chooseFavourite(u"Gated", clipUrl("gated.asx"));
        requestPlayerScene();
        ASSERT_TRUE(pumpUntil([this] { return mServer.hits("/gated.asx") == 1; }));
    }

    std::shared_ptr<sGatedPlaylist> mGate;
    sTextureSceneInstalled mTextureScene;
};

TEST_F(AsxFetchTest, TheMainLoopRunsWhileThePlaylistIsFetchedThenTheChannelPlays)
{
    playGatedChannel();
    // Held by the server: the main loop goes on, timeouts and idle
    // callbacks fire, and the player scene stands without a player. The
    // channel is already among the recent ones.
    {
        sLoopProbe probe;
        pumpFor(std::chrono::milliseconds(400));
        EXPECT_GE(probe.timeouts, 5);
        EXPECT_GE(probe.idles, 5);
    }
    EXPECT_EQ(runningPlaylistFetches(), 1);
    EXPECT_NE(dynamic_cast<cTextureScene*>(currentScene), nullptr);
    EXPECT_EQ(cTextureScene::shown, 1);
    EXPECT_EQ(cTextureScene::playerAtShow, nullptr);
    EXPECT_EQ(cPlayerManager::instance()->currentPlayer(), nullptr);
    EXPECT_EQ(cRecent::instance()->entryName(0), u"Gated");

    mGate->open = true;
    cPlayerManager* manager = cPlayerManager::instance();
    ASSERT_TRUE(pumpUntil([&] { return manager->currentPlayer() != nullptr && manager->currentPlayer()->isLoaded(); }));
    // A new scene, which takes the player.
    EXPECT_EQ(cTextureScene::shown, 2);
    EXPECT_EQ(cTextureScene::playerAtShow, manager->currentPlayer());
    const cPlayList* playList = manager->currentPlayer()->getPlayList();
    EXPECT_EQ(playList->getEntryCount(), 2);
    EXPECT_EQ(kestrel::toUtf8(playList->getCurrentEntry()), clipUrl("long.mkv"));
    EXPECT_TRUE(pumpUntil([] { return frameStats().uploaded >= 3; }));
    EXPECT_EQ(runningPlaylistFetches(), 0);
    EXPECT_EQ(homeRequests(), 0);
}

// Whatever comes while the playlist is fetched wins over it: the late
// playlist is dropped without a player or a scene.
TEST_F(AsxFetchTest, ANewerPlayRequestOrASceneSwitchWinsOverAPendingFetch)
{
    enum eMeanwhile { NewerPlayRequest, HomeScene };
    for (eMeanwhile meanwhile : {NewerPlayRequest, HomeScene}) {
        SCOPED_TRACE(meanwhile == NewerPlayRequest ? "newer play request" : "home scene");
        mGate->open = false;
        mGate->written = false;
        cTextureScene::shown = 0;
        sHomeScenes = 0;
        const int hitsBefore = mServer.hits("/gated.asx");
        chooseFavourite(u"Gated", clipUrl("gated.asx"));
        requestPlayerScene();
        ASSERT_TRUE(pumpUntil([&] { return mServer.hits("/gated.asx") == hitsBefore + 1; }));

        cPlayerManager* manager = cPlayerManager::instance();
        if (meanwhile == NewerPlayRequest) {
            chooseFavourite(u"Plain", clipUrl("long.mkv"));
            requestPlayerScene();
            ASSERT_TRUE(pumpUntil([&] { return manager->currentPlayer() != nullptr; }));
        } else {
            requestHomeScene();
            ASSERT_TRUE(pumpUntil([] { return homeRequests() == 1; }));
        }
        cVideoPlayer* playerBefore = manager->currentPlayer();
        const int shownBefore = cTextureScene::shown;

        mGate->open = true;
        ASSERT_TRUE(pumpUntil([] { return runningPlaylistFetches() == 0; }));
        pumpFor(std::chrono::milliseconds(50)); // anything the fetch might have posted
        EXPECT_EQ(manager->currentPlayer(), playerBefore);
        EXPECT_EQ(cTextureScene::shown, shownBefore);
        if (meanwhile == NewerPlayRequest) {
            EXPECT_EQ(manager->currentPlayer()->getPlayList()->getName(), u"Plain");
            EXPECT_EQ(homeRequests(), 0);
        } else {
            EXPECT_EQ(manager->currentPlayer(), nullptr);
            EXPECT_EQ(homeRequests(), 1);
        }
        manager->destroyCurrentPlayer();
    }
}

// Only the scene that stood during the fetch was shown.
TEST_F(AsxFetchTest, AFailedFetchLeadsHomeWithoutAPlayer)
{
    const std::string url = "http://127.0.0.1:" + std::to_string(closedPort()) + "/list.asx";
    chooseFavourite(u"Nowhere", url);
    requestPlayerScene();
    ASSERT_TRUE(pumpUntil([] { return homeRequests() == 1; }));
    EXPECT_EQ(cTextureScene::shown, 1);
    EXPECT_EQ(cTextureScene::playerAtShow, nullptr);
    EXPECT_EQ(dynamic_cast<cTextureScene*>(currentScene), nullptr);
    EXPECT_EQ(cPlayerManager::instance()->currentPlayer(), nullptr);
    EXPECT_EQ(cRecent::instance()->entryName(0), u"Nowhere");
}

// Shutdown does not wait for a fetch that a silent server holds, and the
// fetch ending after it changes nothing.
TEST_F(AsxFetchTest, ShutdownDoesNotWaitForAHeldFetch)
{
    playGatedChannel();
    destroyCurrentPlayer(); // the shutdown's first step, as the application takes it
    closeCurrentScene();
    const auto start = std::chrono::steady_clock::now();
    shutdownPlayback();
    const auto took = std::chrono::steady_clock::now() - start;
    // The server would hold the fetch for the playlist's whole network
    // time-out.
    EXPECT_LT(took, std::chrono::seconds(cPlayList::NetworkTimeoutSeconds / 2));
    EXPECT_EQ(runningPlaylistFetches(), 0);

    mGate->open = true;
    ASSERT_TRUE(pumpUntil([this] { return mGate->written.load(); }));
    pumpFor(std::chrono::milliseconds(200)); // anything the fetch might have posted
    EXPECT_EQ(cPlayerManager::instance()->currentPlayer(), nullptr);
    EXPECT_EQ(cTextureScene::shown, 1); // the one that stood during the fetch
    EXPECT_EQ(currentScene, nullptr);
    EXPECT_EQ(homeRequests(), 0);
}
