#include "playback/Playback.h"

#include "playback/PlayerManager.h"
#include "playback/Zapping.h"

#include "app/MainLoop.h"
#include "app/Stage.h"
#include "catalogue/PlayerDatabase.h"
#include "kestrel/Unicode.h"
#include "kestrel/Exception.h"
#include "state/Recent.h"

#include <malloc.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace {

std::mutex gFactoryLock;
tPlayerSceneFactory gPlayerSceneFactory; // guarded by gFactoryLock

// Every run of the procedure and every scene switch takes the next number;
// a playlist fetched for an older number arrives too late and is dropped.
// Scene switches may come from other threads (the catalogue update asks for
// its scene from its own), hence atomic.
std::atomic<unsigned> gPlayGeneration{0};

// The value the catalogue's queries take as any country or type.
const std::u16string AnyValue = u"*";

// One playlist fetch on a thread of its own. The thread and the list below
// share it.
struct sPlaylistFetch {
    std::mutex lock;
    bool finished = false;  // guarded by lock: the thread has nothing left to do but end
    bool abandoned = false; // guarded by lock: shutdown gave it up; it posts nothing
    std::thread thread;     // main thread only: started, then joined or detached
};

// Fetches still to be joined. Main thread only.
std::vector<std::shared_ptr<sPlaylistFetch>> gFetches;

cScene* makePlayerScene()
{
    tPlayerSceneFactory factory;
    {
        std::lock_guard<std::mutex> lock(gFactoryLock);
        factory = gPlayerSceneFactory;
    }
    return factory ? factory(stageActor()) : nullptr;
}

// Joins the fetch threads that have finished.
void reapFetches()
{
    for (auto position = gFetches.begin(); position != gFetches.end();) {
        bool finished = false;
        {
            std::lock_guard<std::mutex> guard((*position)->lock);
            finished = (*position)->finished;
        }
        if (finished) {
            (*position)->thread.join();
            position = gFetches.erase(position);
        } else {
            ++position;
        }
    }
}

// The procedure's last steps, on the main loop: the player, its scene, open.
void startPlayback(std::unique_ptr<cPlayList> playList)
{
    // The player scene that stood while the playlist was fetched gives way
    // to the one that shows the player (nothing stands for a stream).
    closeCurrentScene();
    cPlayerManager* manager = cPlayerManager::instance();
    if (!manager->createPlayer(playList.get())) {
        requestHomeScene();
        return;
    }
    playList.release(); // the player's now
    if (cScene* scene = makePlayerScene()) {
        presentScene(scene);
    }
    // The result only says whether the work started; the play task asks
    // for the home scene when the stream does not play.
    manager->currentPlayer()->open();
}

// Main loop, when a fetch has ended: null (with the reason) when it failed.
void continueAfterFetch(unsigned generation, std::unique_ptr<cPlayList> playList, const sChannelFailure& why)
{
    if (generation != gPlayGeneration.load()) {
        return; // a newer play request or a scene switch came first
    }
    if (!playList) {
        // As a stream that does not open: home, or while zapping the scene
        // that stood during the fetch says why and stays.
        playerOpenFailed(why, [generation] { return generation == gPlayGeneration.load(); });
        return;
    }
    startPlayback(std::move(playList));
}

void fetchPlayList(const std::shared_ptr<sPlaylistFetch>& fetch, unsigned generation, const std::u16string& address,
                   const std::u16string& name, const std::u16string& description,
                   const cPlayList::tRequestHeaders& headers)
{
    std::unique_ptr<cPlayList> playList;
    // The continuation says it, on the home scene or while zapping.
    sChannelFailure why{name, sPlayFailure{sPlayFailure::StepPlaylist}};
    try {
        playList = std::make_unique<cPlayList>(address, name, description, headers);
    } catch (const cPlayListFetchFailure& failure) {
        why.failure = failure.cause();
    } catch (...) {
        // The playlist could not be read: the stand-in above.
    }
    // Under the lock, so that shutdown either sees the fetch still running
    // and abandons it, or finds its continuation already posted.
    std::lock_guard<std::mutex> guard(fetch->lock);
    fetch->finished = true;
    if (fetch->abandoned) {
        return;
    }
    auto result = std::make_shared<std::unique_ptr<cPlayList>>(std::move(playList));
    postToMainLoop(PrioritySceneSwitch, [generation, result, why] {
        runGuarded([&] { continueAfterFetch(generation, std::move(*result), why); });
    });
}

} // namespace

void setPlayerSceneFactory(tPlayerSceneFactory factory)
{
    std::lock_guard<std::mutex> lock(gFactoryLock);
    gPlayerSceneFactory = std::move(factory);
}

void limitMemoryArenas()
{
    mallopt(M_ARENA_MAX, 2);
}

void installPlayback()
{
    setPlayChannelProcedure(playChannelProcedure);
    setCurrentPlayerDestroyer([] {
        // A scene switch overrides a play request whose playlist is still
        // being fetched.
        ++gPlayGeneration;
        cPlayerManager::instance()->destroyCurrentPlayer();
    });
}

void playChannelProcedure()
{
    const unsigned generation = ++gPlayGeneration;
    reapFetches();
    cPlayerManager::instance()->destroyCurrentPlayer();
    closeCurrentScene();

    cPlayerDatabase* database = cPlayerDatabase::instance();
    const std::u16string address = database->currentAddress();
    const std::u16string name = database->currentName();
    const std::u16string type = database->currentType();
    const std::u16string country = database->currentCountry();
    const std::u16string description = database->currentDescription();
    // Only a channel whose list named headers has any: the rest send what
    // they always sent.
    const cPlayList::tRequestHeaders headers = headerFields(database->currentHeaders());

    // Before the playlist, so that a channel whose playlist cannot be
    // fetched still appears among the recent channels. The home carousel
    // replays an entry through the catalogue's address query; a favourite
    // is found there by its name with any country and type, which the
    // catalogue filters of the last browse would not match.
    const bool favourite = database->mode() == cPlayerDatabase::ModeFavourite;
    cRecent::instance()->add(favourite ? AnyValue : country, name, favourite ? AnyValue : type);

    if (!cPlayList::isAsxAddress(address)) {
        // Nothing to fetch: the playlist is the address itself.
        std::unique_ptr<cPlayList> playList;
        try {
            playList = std::make_unique<cPlayList>(address, name, description, headers);
        } catch (...) {
            // Only a fetch throws, and no fetch is made here.
            requestHomeScene();
            return;
        }
        startPlayback(std::move(playList));
        return;
    }

    // The fetch may take as long as its time limits allow.
    auto fetch = std::make_shared<sPlaylistFetch>();
    try {
        fetch->thread = std::thread(fetchPlayList, fetch, generation, address, name, description, headers);
    } catch (const std::system_error&) {
        requestHomeScene();
        return;
    }
    gFetches.push_back(std::move(fetch));
    // Meanwhile the player scene stands without a player, its busy icon
    // turning, so that the user sees the channel coming and can leave: its
    // way back is a scene switch, which drops the fetch. The scene made
    // for the player replaces it when the playlist arrives.
    if (cScene* scene = makePlayerScene()) {
        presentScene(scene);
        scene->busyStart();
    }
}

int runningPlaylistFetches()
{
    reapFetches();
    return static_cast<int>(gFetches.size());
}

void shutdownPlayback()
{
    // A fetch can be held by a silent server for its whole time limit, and
    // nothing is left to use its playlist: leave it to end on its own
    // without posting anything.
    ++gPlayGeneration;
    for (const auto& fetch : gFetches) {
        {
            std::lock_guard<std::mutex> guard(fetch->lock);
            fetch->abandoned = true;
        }
        fetch->thread.detach();
    }
    gFetches.clear();

    cPlayerManager* manager = cPlayerManager::instance();
    manager->destroyCurrentPlayer();
    manager->waitForDestroyers();
    cPlayerManager::destroyInstance();
}
