#pragma once
// cListWidget: the interface's one list control. A column of white text
// rows over a half-transparent background with a mirrored reflection
// below, a selection bar that slides to the chosen row, two scroll arrows
// that show only when there is more to see, and rows that grow under the
// pointer. Rows are chosen with the mouse; the list scrolls one row at a
// time with the wheel or the arrows. The owning scene may give a list the
// keyboard: it shows it with a brighter background, and the scene moves
// its selection a row at a time.
//
// Owner's calling order: construct, setClickSlot, setItems, show,
// optionally restoreListState; on every click on a row the slot runs after
// the selection has moved, and reads getActive or getActiveText; before the
// scene fades out, hide; the scene's destructor calls saveListState for a
// list whose state persists, then deletes the widget.
//
// Ownership: the widget creates its actors and destroys them in its
// destructor. Its top-level actors (background, reflection, clip group,
// arrows) go straight onto the owning scene's root container, which must
// outlive the widget. Main loop only, like every toolkit call.

#include <sigc++/sigc++.h>

#include <string>
#include <vector>

#include "app/Effects.h"
#include "app/Toolkit.h"
#include "state/ListStates.h"
#include "widgets/WidgetSupport.h"

class cScene;

class cListWidget {
public:
    // Builds every actor on the scene's root container for the rectangle
    // (x, y, width, height) in stage pixels: the background at opacity 128
    // with its reflection 5 pixels below, the clipped window of the rows
    // between the two (still transparent) arrows. Skin images come from
    // the scene's skin folder: "list-bg.png", "list-selection.png",
    // "list-scroll-up.png", "list-scroll-down.png"; a missing one shows a
    // grey stand-in. No rows until setItems and show.
    cListWidget(cScene* scene, int x, int y, int width, int height);
    // Disconnects the event handlers, then destroys the rows and every
    // other actor, then the animations; running effects on them end without
    // touching the widget.
    virtual ~cListWidget();
    cListWidget(const cListWidget&) = delete;
    cListWidget& operator=(const cListWidget&) = delete;

    // Replaces the rows with one white "Monospace" label per string, in
    // order. Leaves the selection, the scroll position and the row height
    // alone: always follow it with show. Throws
    // kestrel::cUnicodeConversionException for malformed UTF-16.
    virtual void setItems(const std::vector<std::u16string>& items);
    // The same with the rows given as the list keeps them: UTF-8 texts,
    // each ended by a zero, laid end to end, and where each starts, with
    // one more start at the end (the size of texts). Made without a string
    // per row, so that a list of a whole catalogue refills within a frame.
    // The texts must be well-formed UTF-8.
    void setItemsUtf8(std::string texts, std::vector<size_t> starts);
    // Lays the rows out from the top (a list that fits is centred
    // vertically), scrolls to the first row, clears the selection and fades
    // the rows in from depth 100 over 300 ms; withBackground fades the
    // background (to 128) and its reflection (to 64) in as well, and
    // updateArrows sets the arrows for the new rows.
    virtual void show(bool withBackground, bool updateArrows);
    // Fades the rows, the background and the reflection out to depth 100
    // over 300 ms. The arrows keep their opacity. Until the next show the
    // list consumes button presses on its rows and arrows and acts on none.
    virtual void hide();
    // One row towards the first / the last, unless the rows fit or the
    // list is at its end (the last scroll leaves at most about one empty
    // row at the bottom). The move takes one frame.
    virtual void scrollUp();
    virtual void scrollDown();
    // Selects the row (the bar slides to it over 100 ms); an index outside
    // the rows, -1 included, clears the selection.
    virtual void setActive(int index);
    // The selected row, -1 when none.
    virtual int getActive() const;
    // The selected row's text, empty when none.
    virtual std::u16string getActiveText() const;
    virtual int getCount() const;
    // The vertical offset of the rows (0 at the top, negative when
    // scrolled): where they rest, or where a running scroll takes them.
    virtual int getScrollY() const;
    // Puts the rows at offset y at once and sets the arrows.
    virtual void setScrollY(int y);

    // The slot called after a click on a row has moved the selection; an
    // empty slot turns it off.
    void setClickSlot(const sigc::slot<void>& slot);
    // Gives the list the keyboard or takes it away: a list that has it
    // shows its background at 208 instead of 128.
    void setKeyboardFocus(bool focused);
    bool hasKeyboardFocus() const { return mKeyboardFocus; }
    // The keyboard's step: selects the row `step` rows from the selected
    // one (the first row when none is selected), stopping at the first and
    // the last, scrolls it into the window and then, as a click on the row
    // does, calls the click slot. Nothing for a list without rows or one
    // that is hidden. The slot may delete the list.
    void moveSelection(int step);

    // Fades each arrow in when there is more to see on its side and out
    // otherwise, both out when the rows fit (300 ms).
    void updateArrows();

    // The first row scrolled into view.
    int getTopElement() const { return mTopElement; }
    // A row's label height + 5, -1 until show has measured the rows.
    int getRowHeight() const { return mRowHeight; }
    // The height of the rows' window: height - (up arrow + down arrow + 10).
    int getVisibleHeight() const { return mHeight; }

private:
    friend void applyListState(cListWidget& list, const sListState& state);

    friend gboolean onWidgetEvent<cListWidget>(ClutterActor*, ClutterEvent*, gpointer);
    // The event table of the list; true when the event is consumed.
    bool handleEvent(ClutterEvent* event);

    // The index of the row label, -1 for any other actor.
    int rowIndex(ClutterActor* actor) const;
    // The row's label height + 5; the measured row height for an index
    // outside the rows (a restored top element is taken as stored).
    int rowPitch(int index);
    // The pitches from row `from` on, as far as they are needed to fill the
    // visible height minus one row, at least one (all of them when they
    // never do).
    std::vector<int> rowPitchesFrom(int from);
    // The top of the row in the row group, as show lays the rows out.
    int rowTop(int index);
    // The row's text, UTF-8.
    const char* rowText(int index) const;
    // The label of the row, made (and placed, once the rows are laid out)
    // the first time it is needed.
    ClutterActor* rowLabel(int index);
    void placeRow(int index);
    // Makes the labels of the rows within one visible height above and
    // below the window the rows show at offset y.
    void buildRowsAround(int y);
    void destroyRows();
    // Starts the scroll timeline and moves the rows to offset y in one frame.
    void scrollTo(int y);
    void fadeArrow(ClutterActor* arrow, guint8 opacity);
    // The background's opacity while the list is shown.
    guint8 backgroundOpacity() const;
    void fadeList(guint8 rowsOpacity, guint8 backgroundOpacity, guint8 reflectionOpacity, float depth,
                  bool withBackground);

    // Every field: main loop only.
    ClutterActor* mRoot;       // the scene's root container, not owned
    sigc::slot<void> mClickSlot;
    int mWidth;
    int mHeight;               // the visible row height V
    int mActive = -1;
    int mTopElement = 0;
    int mRowHeight = -1;
    int mScrollY = 0;          // the rows' resting offset
    bool mHidden = false;      // from hide to the next show
    bool mKeyboardFocus = false;

    // The rows. A catalogue can hold hundreds of thousands of names, and a
    // label per name would take seconds to make: a row's label is made only
    // when the row comes near the window (or must be measured), and stays
    // until the next setItems. What is seen is the same, as the clip group
    // shows only the rows in the window.
    std::string mTexts;               // every row's text, UTF-8, each ended by a zero
    std::vector<size_t> mTextStarts;  // where each row's text starts in mTexts
    std::vector<ClutterActor*> mRows; // one per row: its label (a child of mRowGroup) or null
    // Rows of printable ASCII are all as high as the font's line, measured
    // once on a probe label; other rows are measured on a label of their
    // own text, and the pitch is kept for rows that have no label.
    int mAsciiPitch = -1;
    std::vector<int> mMeasuredPitches; // per row, -1 unknown; empty until one is measured
    bool mLaidOut = false;    // show has placed the rows since the last setItems
    std::vector<int> mTops;   // tops of the first rows, as far as they were needed since show

    // Owned actors.
    ClutterActor* mBackground;
    ClutterActor* mSelection;
    ClutterActor* mUpArrow;
    ClutterActor* mDownArrow;
    ClutterActor* mReflection;
    ClutterActor* mClip;
    ClutterActor* mRowGroup;

    cTimeline mScrollTimeline; // one frame at 120 frames per second: the wheel waits for it
    cEffectTemplate mFadeTemplate;
    cEffectTemplate mScrollTemplate;
    cEffectTemplate mHoverTemplate;
    cEffectTemplate mSelectionTemplate;
    cEventConnections mConnections;
};

// The list's saved state in the settings store (state/ListStates.h), under
// name + "_active", "_topElement" and "_scrollY". Restoring selects the
// stored row, takes the stored top element and moves to the stored offset
// without checking them against the rows (an unknown row clears the
// selection); missing keys read as 0: the first row at the top.
void restoreListState(const std::u16string& name, cListWidget& list);
void saveListState(const std::u16string& name, const cListWidget& list);
// The same state without the settings: what saveListState would write, and
// what restoreListState puts back, from and to a value the caller keeps.
sListState listStateOf(const cListWidget& list);
void applyListState(cListWidget& list, const sListState& state);
