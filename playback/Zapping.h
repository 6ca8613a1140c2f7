#pragma once
// Zapping: the previous and the next channel while one plays. A scene that
// asks for the player scene first says which list the channel comes from
// (the browser's channel names under its filters, the favourites, or the
// recent channels as the home carousel shows them) and where in it; the
// player's keys then step through that list, wrapping at its ends, and
// each step plays the channel it lands on through the play-channel
// procedure, which keeps what playing from a scene keeps (the recent list,
// its picture, the volume).
//
// While zapping, a channel that fails to play does not lead home: the
// player scene stays and says why, so the next step still works. Zapping
// ends when a new list is set or the user leaves the player.
//
// Main loop only, except playerOpenFailed (the player's play task) and
// takeFailureToShow.

#include "playback/PlayFailure.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

// One channel of a list, as the catalogue's current channel takes it.
struct sZapChannel {
    std::u16string country; // the filters it was listed under ("*": any)
    std::u16string type;
    std::u16string name;
    int favourite = -1; // the favourite's index instead; -1 for a catalogue channel
};

// The list the channel about to play was chosen from, and its place in it;
// the channel itself is already the catalogue's current one. Ends zapping.
void setZapList(std::vector<sZapChannel> channels, size_t position);
// Forgets the list (a channel played without one).
void clearZapList();

// Steps `step` places through the list, wrapping, and makes that channel
// the catalogue's current one; unless a switch is waiting already, one is
// scheduled (as a player-scene request), so that however fast the steps
// come, at most one switch waits, and it plays the channel the last step
// landed on. Returns the channel's name; empty, doing nothing, without a
// list of two channels or more.
std::u16string zapBy(int step);
// True from the first step until a new list is set or stopZapping.
bool isZapping();
// The user leaves the player: a failure no longer keeps the player scene.
void stopZapping();

// A channel that did not play, and why.
struct sChannelFailure {
    std::u16string channel; // its name
    sPlayFailure failure;
};

// Play task (or the main loop, for a playlist fetch): the open sequence of
// a player failed, and the player was not aborted. Outside zapping the
// home scene is requested, as always, and the failure waits for it to
// show (takeFailureToShow). While zapping the failure goes to the failure
// shower on the main loop, if `wanted` (asked there) says the player is
// still the current one.
void playerOpenFailed(const sChannelFailure& failure, std::function<bool()> wanted);

// The failure that sent the viewer to the home scene, once: the home scene
// takes it when it shows, and nothing is left for the one after. Any
// thread.
std::optional<sChannelFailure> takeFailureToShow();

// Shows a zapping failure in the current scene (the scenes register it).
// Main loop.
using tZapFailureShower = std::function<void(const sChannelFailure& failure)>;
void setZapFailureShower(tZapFailureShower shower);
