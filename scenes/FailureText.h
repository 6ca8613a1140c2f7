#pragma once
// A channel that does not play, in the user's language: "<channel> does
// not play: <reason>", the reason chosen by the failure's kind (with its
// HTTP status or the missing format's name where it has one). Shown by
// the home scene after a failed channel and by the player scene while
// zapping.
//
// Main loop only (it reads the loaded language).

#include <string>
#include <vector>

#include "playback/Zapping.h"

// The reason alone.
std::string failureReasonText(const sPlayFailure& failure);
// The whole sentence, UTF-8.
std::string channelFailureText(const sChannelFailure& failure);
