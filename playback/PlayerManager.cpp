#include "playback/PlayerManager.h"

namespace {
cPlayerManager* theManager = nullptr; // main thread only
}

PlayerDestroyer::PlayerDestroyer(cVideoPlayer* player) : mPlayer(player)
{
    mPlayer->abort();
}

PlayerDestroyer::~PlayerDestroyer() = default;

void PlayerDestroyer::execute()
{
    delete mPlayer;
    mPlayer = nullptr;
}

cPlayerManager* cPlayerManager::instance()
{
    if (theManager == nullptr) {
        theManager = new cPlayerManager;
    }
    return theManager;
}

void cPlayerManager::destroyInstance()
{
    delete theManager;
    theManager = nullptr;
}

cPlayerManager::~cPlayerManager()
{
    reap();
    if (mCurrentPlayer != nullptr) {
        cVideoPlayer* player = mCurrentPlayer;
        mCurrentPlayer = nullptr;
        PlayerDestroyer* destroyer = startDestroyer(player);
        destroyer->join();
        reap();
    }
    // Destroyers still running from earlier calls own their players and
    // are left to finish: shutdown waits for them first (waitForDestroyers).
}

void cPlayerManager::reap()
{
    for (PlayerDestroyer*& destroyer : mDestroyers) {
        if (destroyer != nullptr && destroyer->getState() == kestrel::TaskFinished) {
            delete destroyer;
            destroyer = nullptr;
        }
    }
}

PlayerDestroyer* cPlayerManager::startDestroyer(cVideoPlayer* player)
{
    auto* destroyer = new PlayerDestroyer(player);
    bool placed = false;
    for (PlayerDestroyer*& slot : mDestroyers) {
        if (slot == nullptr) {
            slot = destroyer;
            placed = true;
            break;
        }
    }
    if (!placed) {
        mDestroyers.push_back(destroyer);
    }
    if (!destroyer->start()) {
        // No thread: tear the player down here rather than leave it running
        // with nobody to delete it. start() has left the task finished, so
        // the next reap deletes it.
        destroyer->run();
    }
    return destroyer;
}

void cPlayerManager::destroyCurrentPlayer()
{
    reap();
    if (mCurrentPlayer == nullptr) {
        return;
    }
    cVideoPlayer* player = mCurrentPlayer;
    mCurrentPlayer = nullptr;
    startDestroyer(player);
}

bool cPlayerManager::createPlayer(cPlayList* playList)
{
    cVideoPlayer* player = nullptr;
    try {
        player = new cVideoPlayer(playList);
    } catch (...) {
        return false;
    }
    if (mCurrentPlayer != nullptr) {
        destroyCurrentPlayer();
    }
    mCurrentPlayer = player;
    return true;
}

void cPlayerManager::waitForDestroyers()
{
    for (PlayerDestroyer* destroyer : mDestroyers) {
        if (destroyer != nullptr) {
            destroyer->join();
        }
    }
    reap();
}

int cPlayerManager::runningDestroyers()
{
    int running = 0;
    for (PlayerDestroyer* destroyer : mDestroyers) {
        if (destroyer != nullptr && destroyer->getState() != kestrel::TaskFinished) {
            ++running;
        }
    }
    return running;
}
