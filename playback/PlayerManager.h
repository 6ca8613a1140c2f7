#pragma once
// The one current player of the process, and the destroyers that tear
// down replaced players on threads of their own (tearing down a media graph
// may block as long as a network call inside it).
//
// Every operation of the manager runs on the main thread (scene switches,
// the play-channel procedure, shutdown); it has no lock.

#include "playback/VideoPlayer.h"

#include "kestrel/Tasks.h"

#include <vector>

class PlayerDestroyer : public kestrel::cStandaloneTask {
public:
    // Aborts the player at once, on the constructing thread, so that an
    // open sequence in progress stops without asking for the home scene.
    explicit PlayerDestroyer(cVideoPlayer* player);
    // Does not touch the player.
    ~PlayerDestroyer() override;

protected:
    // Deletes the player (its teardown), on the destroyer's own thread.
    void execute() override;

private:
    cVideoPlayer* mPlayer; // owned; written before start(), deleted by the run
};

class cPlayerManager {
public:
    static cPlayerManager* instance();
    static void destroyInstance();

    // Reaps; hands a current player to a destroyer and waits for it.
    // Destroyers started earlier are not waited for (see waitForDestroyers).
    virtual ~cPlayerManager();
    cPlayerManager(const cPlayerManager&) = delete;
    cPlayerManager& operator=(const cPlayerManager&) = delete;

    // A player for the playlist becomes the current one (a previous one is
    // destroyed). The player owns the playlist only when this returns true.
    bool createPlayer(cPlayList* playList);
    // Hands the current player, if any, to a new destroyer and starts it.
    void destroyCurrentPlayer();
    cVideoPlayer* currentPlayer() const { return mCurrentPlayer; }

    // Waits until every destroyer has finished (the current player stays).
    // Shutdown calls it before the media framework goes away.
    void waitForDestroyers();

    // For tests: the slot list (empty slots included) and how many
    // destroyers are still running.
    size_t slotCount() const { return mDestroyers.size(); }
    int runningDestroyers();

private:
    cPlayerManager() = default;
    void reap();
    PlayerDestroyer* startDestroyer(cVideoPlayer* player);

    cVideoPlayer* mCurrentPlayer = nullptr;     // main thread only
    std::vector<PlayerDestroyer*> mDestroyers;  // main thread only; null = empty slot
};
