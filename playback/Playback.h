#pragma once
// How playback joins the application: the play-channel procedure that the
// player-scene request runs on the main loop, the player destroyer that
// every scene switch runs, and the orderly end of playback at shutdown.

#include "app/Scene.h"

#include <functional>

// Every open starts new streaming threads, and the C library gives new
// threads malloc arenas of their own that keep freed memory cached, so a
// long session of reopened streams creeps upwards in memory. Two arenas keep
// it flat (measured over many reopens) at no measurable processor cost.
// Main thread, before any other thread starts.
void limitMemoryArenas();

// Registers the play-channel procedure and the current-player destroyer
// with the scene switching. The application calls it once at start-up,
// before the first scene request.
void installPlayback();

// The scene that shows a playing channel (the scenes library registers
// it). Its show operation hands its video texture to the current player
// (cPlayerManager::currentPlayer()). Without a factory the player plays
// without a scene. Any thread.
using tPlayerSceneFactory = std::function<cScene*(ClutterActor* root)>;
void setPlayerSceneFactory(tPlayerSceneFactory factory);

// Main loop: turns the channel database's current channel into a playing
// player inside a new player scene; on failure the home scene follows.
//
// It destroys the current player, closes the current scene, reads the
// channel and adds it to the recent list. An ASX playlist is then fetched
// on a thread of its own, so that the main loop never waits for the
// network; meanwhile a player scene without a player shows its busy
// indication. The rest (player, a new scene, open) follows on the main
// loop when the fetch has ended, unless a newer play request or a scene
// switch (the waiting scene's way back among them) came first: then the
// fetched playlist is dropped. A fetch that fails is a channel that does
// not play: the home scene, or while zapping the waiting scene says why.
void playChannelProcedure();

// For tests: playlist fetches whose threads have not ended yet.
int runningPlaylistFetches();

// Shutdown, main thread, after the main loop has ended and before the media
// framework shuts down: gives up the playlist fetches still running (they
// end on their own within their time limits and change nothing any more),
// destroys the current player and waits until every player has been torn
// down, then deletes the player manager.
void shutdownPlayback();
