#pragma once
// The one reading of the keyboard for the whole interface: every scene
// takes a key press through readKey, which names the key (the keypad's
// twins, Return and Enter, both cases of a letter read as one) and tells a
// first press from the repeats of a key held down.
//
// Scenes act on key presses, in their stage handlers beside the mouse. A
// key that leads to another scene acts on its first press only, so that a
// key held down never walks on through the scene that follows; keys that
// move something within a scene (a selection, the volume, the channel)
// act on every repeat. A key's repeats never act in another kind of scene
// than the one that was current at its first press: the watcher stops them
// before any handler of the scene that followed sees them (the search
// line's typing included). Main loop only.

#include "app/Toolkit.h"

enum class eKey {
    Other,
    Escape,
    BackSpace,
    Enter,    // Return, the keypad's Enter
    Tab,      // Tab and Shift+Tab (left tab)
    Up,
    Down,
    PageUp,
    PageDown,
    Left,
    Right,
    Minus,    // minus, the keypad's minus
    Plus,     // plus, equals (plus without Shift), the keypad's plus
    F,
    F11,
    M,
    C,
    V,
};

struct sKeyPress {
    eKey key = eKey::Other;
    // The key was pressed before and has not been released since: the
    // desktop repeats a key held down.
    bool repeated = false;
};

// The key of a key press or release event.
eKey keyOf(const ClutterEvent* event);

// The key press being dispatched. A press repeats when the same key was
// pressed within the last second and not released since (the toolkit asks
// the X server to send a held key as presses alone, released once at the
// end); a release lost to another window is forgotten after that second.
// The repeats of a key first pressed in another kind of scene never get
// here.
sKeyPress readKey(const ClutterEvent* event);

// Follows every key press and release on the stage, before any handler
// sees them. initializeUi() calls it once.
void watchKeys(ClutterActor* stage);
