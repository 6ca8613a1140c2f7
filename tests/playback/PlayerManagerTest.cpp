// The player manager and the play-channel procedure, with a real channel
// database and real clips served from loopback, on the test's display.

#include "PlayerFixture.h"

#include "playback/PlayerManager.h"
#include "playback/Playback.h"

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

    requestPlayerScene();
    cPlayerManager* manager = cPlayerManager::instance();
    ASSERT_TRUE(pumpUntil([&] { return manager->currentPlayer() != nullptr && manager->currentPlayer()->isLoaded(); }));
    ASSERT_TRUE(pumpUntil([] { return frameStats().uploaded >= 10; }));
    EXPECT_NE(currentScene, nullptr);
    EXPECT_STREQ(clutter_stage_get_title(stage()), "Loopback TV");
    EXPECT_EQ(kestrel::toUtf8(manager->currentPlayer()->getPlayList()->getName()), "Loopback TV");
    EXPECT_EQ(kestrel::toUtf8(manager->currentPlayer()->getPlayList()->getDescription()), "Made by the test");
    EXPECT_EQ(cRecent::instance()->entryName(0), u"Loopback TV");
    EXPECT_EQ(cRecent::instance()->entryCountry(0), u"Testland");

    // The picture on the stage: the frame, turned upright (red above, blue
    // below) in the middle of the stage.
    redrawStage();
    const float middleX = clutter_actor_get_width(stageActor()) / 2;
    const float middleY = clutter_actor_get_height(stageActor()) / 2;
    guchar* above = clutter_stage_read_pixels(stage(), static_cast<int>(middleX), static_cast<int>(middleY) - 60, 1, 1);
    guchar* below = clutter_stage_read_pixels(stage(), static_cast<int>(middleX), static_cast<int>(middleY) + 60, 1, 1);
    ASSERT_NE(above, nullptr);
    ASSERT_NE(below, nullptr);
    EXPECT_GT(above[0], 200);
    EXPECT_LT(above[2], 60);
    EXPECT_LT(below[0], 60);
    EXPECT_GT(below[2], 200);
    g_free(above);
    g_free(below);

    // Every 125th frame becomes the channel's picture.
    EXPECT_TRUE(pumpUntil([] { return cRecent::instance()->entry(0).pictureCount >= 1; }, 10s));
    EXPECT_EQ(homeRequests(), 0);
    database->close();
}

TEST_F(PlayerManagerTest, TwoPlayRequestsInQuickSuccession)
{
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
    std::vector<std::string> lines;
    kestrel::testing::setLogRecorder([&lines](const std::string& line) { lines.push_back(line); });
    requestPlayerScene();
    ASSERT_TRUE(pumpUntil([] { return homeRequests() == 1; }));
    kestrel::testing::setLogRecorder({});
    // The fetch ran on the main loop: its line is there.
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("lumivex: playback: error: channel \"Unreachable\" at " + url +
                                  ": playlist fetch failed: Connection refused",
                              0),
              0u)
        << lines[0];
    EXPECT_EQ(cRecent::instance()->entryName(0), u"Unreachable");
    EXPECT_EQ(cRecent::instance()->entryCountry(0), u"Testland");
    EXPECT_EQ(cPlayerManager::instance()->currentPlayer(), nullptr);
}

TEST_F(PlayerManagerTest, FailedOpenLeadsHomeAndDestroysThePlayer)
{
    chooseFavourite(u"Silent film", clipUrl("video.mkv"));
    requestPlayerScene();
    ASSERT_TRUE(pumpUntil([] { return homeRequests() == 1; }));
    // The switch to the home scene destroyed the player.
    EXPECT_EQ(cPlayerManager::instance()->currentPlayer(), nullptr);
    EXPECT_TRUE(pumpUntil([] { return cPlayerManager::instance()->runningDestroyers() == 0; }));
}
