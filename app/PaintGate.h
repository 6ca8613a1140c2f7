#pragma once
// Painting less without showing anything different. Every stage paint in
// software OpenGL costs in proportion to the pixels drawn, and an actor
// that lies wholly under an opaque one (the player's background under a
// video larger than the window) costs as much as one in plain view. A
// paint gate skips such an actor's paint while it cannot be seen; it is
// still laid out, picked and animated as before.
//
// Main loop only.

#include "app/Toolkit.h"

#include <functional>

// Skips `actor`'s paint whenever `hidden` returns true; asked on every
// paint of the actor. The gate goes with the actor.
void addPaintGate(ClutterActor* actor, std::function<bool()> hidden);

// True when `cover` hides every pixel of its stage: it is mapped, painted
// at full opacity (its paint opacity, which takes in its ancestors', is
// 255) and its allocation, as it lands on the stage after every transform,
// is an upright rectangle (turned by whole half turns at most) that holds
// the whole stage. Whether every pixel of its content is opaque is the
// caller's to know.
bool coversStage(ClutterActor* cover);
