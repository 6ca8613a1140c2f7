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

// The scene that shows a playing channel. Its show operation hands its
// video texture to the current player (cPlayerManager::currentPlayer()).
// Without a factory, a plain scene that shows the video in the middle of
// the stage stands in.
using tPlayerSceneFactory = std::function<cScene*(ClutterActor* root)>;
void setPlayerSceneFactory(tPlayerSceneFactory factory);

// Main loop: turns the channel database's current channel into a playing
// player inside a new player scene; on failure the home scene follows.
void playChannelProcedure();

// Shutdown, main thread, after the main loop has ended and before the media
// framework shuts down: destroys the current player and waits until every
// player has been torn down, then deletes the player manager.
void shutdownPlayback();
