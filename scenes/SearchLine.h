#pragma once
// The search line of the pickers: typing over the browser's channel list
// or the favourites opens a line above the list with the typed text and
// the number of channels found, and the scene narrows its list to the
// names that hold the text (catalogue/NameSearch.h).
//
// The line keeps the text and its keys; the scene keeps its lists and
// what a change of the text does to them. Main loop only.

#include <functional>
#include <memory>
#include <string>

#include "app/Effects.h"
#include "app/Toolkit.h"

// Where the line stands: its labels' top is this far above the list's top.
constexpr float SearchLineGap = 6.0f;
// The longest text kept, in UTF-16 code units; further letters are refused.
constexpr size_t SearchTextLimit = 64;

// The top of the line for a list whose top is listY, with labels of the
// given height.
float searchLineY(float listY, float labelHeight);

// The words of the count: "1 channel", "N channels" in the loaded language
// (the text holds "%1" where the number goes).
std::string searchCountText(int count);

class cSearchLine {
public:
    enum eChange { Opened, Edited, Closed };
    using tChanged = std::function<void(eChange change)>;

    // Makes the caption ("Search:" and the text, left) and the count
    // (right) on root, on one line above the list that starts at (x, y)
    // and is width wide; hidden until a search opens. The actors go onto
    // root above everything already there; the line destroys them.
    cSearchLine(ClutterActor* root, int x, int y, int width);
    ~cSearchLine();
    cSearchLine(const cSearchLine&) = delete;
    cSearchLine& operator=(const cSearchLine&) = delete;

    // Called after every change of the text, with what changed.
    void setChangedSlot(tChanged changed) { mChanged = std::move(changed); }

    // A key press, read from the event (its keyval, modifiers and Unicode);
    // true when the line consumed it:
    //
    //   key                                   search   action                            consumed
    //   printable character (any script),     closed   opens the search with it          yes
    //     without Control or Alt; a blank     open     adds it at the end (up to the     yes
    //     opens nothing                                limit)
    //   Backspace                             open     erases the last character; the    yes
    //                                                  last one erased closes the search
    //   Escape                                open     closes the search                 yes
    //   anything else, or the above while              nothing                           no
    //     closed
    //
    // So a second Escape, or Backspace with no search, goes on to the
    // scene's other key handlers. Typing moves nothing to another scene:
    // a held key types on every repeat, and the repeats of a key first
    // pressed in another scene never get here (app/Keys.h).
    bool handleKey(const ClutterKeyEvent& key);

    bool isOpen() const { return !mText.empty(); }
    const std::u16string& text() const { return mText; }
    // The number of channels found; -1 while the search waits for its
    // index (an ellipsis).
    void setCount(int count);
    // The line's look follows the list's fade: out with the scene's exit.
    void fadeOut();
    // The caption and the count in the loaded language (it has changed).
    void relayWords();

    // For checks.
    ClutterActor* caption() const { return mCaption; }
    ClutterActor* count() const { return mCount; }

    // A callback for any thread that runs work on the main loop later, as
    // long as this line still exists then (for the name index, which is
    // built on a thread of its own).
    std::function<void()> onMainLoop(std::function<void()> work) const;

private:
    void change(eChange change);
    void layOut();

    // All fields: main loop only.
    ClutterActor* mRoot; // the stage, not owned
    ClutterActor* mGroup;
    ClutterActor* mCaption;
    ClutterActor* mCount;
    const float mX, mListY, mWidth;
    std::u16string mText;
    int mCountValue = -1; // the count shown; -1 for the ellipsis
    tChanged mChanged;
    cEffectTemplate mFadeTemplate;
    // Posted work holds only a weak reference: a line that has gone drops it.
    std::shared_ptr<const cSearchLine*> mSelf;
};

// The "key-press-event" handler of a scene on its root: connected in the
// scene's show, before the scene's other handlers, so that the search
// sees a key first; disconnected by the destructor (or before).
class cKeyPressHandler {
public:
    using tHandle = std::function<bool(const ClutterKeyEvent& key)>;
    cKeyPressHandler() = default;
    ~cKeyPressHandler() { disconnect(); }
    cKeyPressHandler(const cKeyPressHandler&) = delete;
    cKeyPressHandler& operator=(const cKeyPressHandler&) = delete;

    void connect(ClutterActor* root, tHandle handle);
    void disconnect();

private:
    static gboolean onKeyPress(ClutterActor* root, ClutterEvent* event, gpointer self);

    ClutterActor* mRoot = nullptr; // main loop only
    gulong mId = 0;
    tHandle mHandle;
};
