#include "widgets/ListWidget.h"

#include <algorithm>

#include "app/Scene.h"
#include "app/Words.h"

#include "kestrel/Unicode.h"
#include "state/ListStates.h"
#include "widgets/WidgetLayout.h"

namespace {

constexpr guint8 BackgroundOpacity = 128;
constexpr guint8 KeyboardBackgroundOpacity = 208;
constexpr float HiddenDepth = 100.0f;
constexpr double HoverScale = 1.2;
const char* const RowFont = "Monospace";
constexpr ClutterColor RowColour = {255, 255, 255, 255};

// Stand-in sizes for images that cannot be loaded.
constexpr float StandInArrowWidth = 32.0f;
constexpr float StandInArrowHeight = 16.0f;
constexpr float StandInBarHeight = 24.0f;

// Where a row label keeps its index (plus one, so that no index reads as 0).
GQuark rowQuark()
{
    static const GQuark quark = g_quark_from_static_string("lumivex-list-row");
    return quark;
}

// A non-empty text of printable ASCII characters: one line in the font's
// own glyphs, as high as any other such line.
bool isPrintableAscii(const char* text)
{
    if (*text == '\0') {
        return false;
    }
    for (; *text != '\0'; ++text) {
        if (*text < 0x20 || *text > 0x7e) {
            return false;
        }
    }
    return true;
}

} // namespace

cListWidget::cListWidget(cScene* scene, int x, int y, int width, int height)
    : mRoot(scene->root())
    , mWidth(width)
    , mHeight(height)
    , mScrollTimeline(1, 120)
    , mFadeTemplate(300, AlphaSmoothstepInc)
    , mScrollTemplate(mScrollTimeline, AlphaSmoothstepInc)
    , mHoverTemplate(100, AlphaSmoothstepInc)
    , mSelectionTemplate(100, AlphaSmoothstepInc)
{
    mBackground = loadWidgetTexture(scene, "list-bg.png", width, height);
    mSelection = loadWidgetTexture(scene, "list-selection.png", width, StandInBarHeight);
    mUpArrow = loadWidgetTexture(scene, "list-scroll-up.png", StandInArrowWidth, StandInArrowHeight);
    mDownArrow = loadWidgetTexture(scene, "list-scroll-down.png", StandInArrowWidth, StandInArrowHeight);
    mReflection = makeWidgetReflection(mBackground);
    mClip = clutter_actor_new();
    mRowGroup = clutter_actor_new();

    const sListLayout layout = listLayout(x, y, width, height, actorWidth(mUpArrow), actorHeight(mUpArrow),
                                          actorWidth(mDownArrow), actorHeight(mDownArrow));
    mHeight = layout.visibleHeight;

    clutter_actor_set_position(mBackground, layout.backgroundX, layout.backgroundY);
    clutter_actor_set_size(mBackground, width, height);
    clutter_actor_set_opacity(mBackground, BackgroundOpacity);

    clutter_actor_set_position(mReflection, layout.reflectionX, layout.reflectionY);
    clutter_actor_set_size(mReflection, width, height);

    clutter_actor_set_position(mClip, layout.clipX, layout.clipY);
    clutter_actor_set_size(mClip, width, mHeight);
    clutter_actor_set_clip(mClip, 0.0f, 0.0f, width, mHeight);
    clutter_actor_set_reactive(mClip, TRUE);

    clutter_actor_set_position(mRowGroup, 0.0f, 0.0f);
    clutter_actor_set_size(mRowGroup, width, mHeight);

    // The bar keeps its natural height; with its anchor at its centre a
    // move puts its centre on the row's.
    clutter_actor_set_position(mSelection, 0.0f, 0.0f);
    clutter_actor_set_width(mSelection, width);
    clutter_actor_move_anchor_point_from_gravity(mSelection, CLUTTER_GRAVITY_CENTER);

    clutter_actor_set_position(mUpArrow, layout.upArrowX, layout.upArrowY);
    clutter_actor_set_opacity(mUpArrow, 0);
    clutter_actor_set_reactive(mUpArrow, TRUE);
    clutter_actor_set_position(mDownArrow, layout.downArrowX, layout.downArrowY);
    clutter_actor_set_opacity(mDownArrow, 0);
    clutter_actor_set_reactive(mDownArrow, TRUE);

    // Later children draw on top: the rows over the background, the arrows
    // over everything.
    clutter_actor_add_child(mRoot, mBackground);
    clutter_actor_add_child(mRoot, mReflection);
    clutter_actor_add_child(mRowGroup, mSelection);
    clutter_actor_hide(mSelection);
    clutter_actor_add_child(mClip, mRowGroup);
    clutter_actor_add_child(mRoot, mClip);
    clutter_actor_add_child(mRoot, mUpArrow);
    clutter_actor_add_child(mRoot, mDownArrow);

    const GCallback handler = G_CALLBACK(onWidgetEvent<cListWidget>);
    mConnections.connect(mClip, {"scroll-event", "enter-event", "leave-event", "button-press-event"}, handler, this);
    mConnections.connect(mUpArrow, {"button-press-event"}, handler, this);
    mConnections.connect(mDownArrow, {"button-press-event"}, handler, this);
}

cListWidget::~cListWidget()
{
    mConnections.disconnectAll();
    destroyRows();
    clutter_actor_destroy(mBackground);
    clutter_actor_destroy(mReflection);
    clutter_actor_destroy(mUpArrow);
    clutter_actor_destroy(mDownArrow);
    clutter_actor_destroy(mSelection);
    clutter_actor_destroy(mRowGroup);
    clutter_actor_destroy(mClip);
    // The timeline, the templates and the slot go with the members.
}

void cListWidget::setItems(const std::vector<std::u16string>& items)
{
    // Every text is converted before anything changes, so a malformed one
    // leaves the list as it was. The texts go into one buffer, each ended
    // by a zero; ASCII, the common case, is copied as it is.
    size_t length = items.size();
    for (const std::u16string& item : items) {
        length += item.size();
    }
    std::string texts;
    texts.reserve(length);
    std::vector<size_t> starts;
    starts.reserve(items.size() + 1);
    for (const std::u16string& item : items) {
        starts.push_back(texts.size());
        if (std::all_of(item.begin(), item.end(), [](char16_t c) { return c != 0 && c < 0x80; })) {
            const size_t at = texts.size();
            texts.resize(at + item.size());
            std::copy(item.begin(), item.end(), texts.begin() + at);
        } else {
            texts += kestrel::toUtf8(item);
        }
        texts.push_back('\0');
    }
    starts.push_back(texts.size());
    setItemsUtf8(std::move(texts), std::move(starts));
}

void cListWidget::setItemsUtf8(std::string texts, std::vector<size_t> starts)
{
    destroyRows();
    const size_t count = starts.empty() ? 0 : starts.size() - 1;
    mTexts = std::move(texts);
    mTextStarts = std::move(starts);
    mRows.assign(count, nullptr);
    mMeasuredPitches.clear();
    mTops.clear();
    mLaidOut = false;
}

const char* cListWidget::rowText(int index) const
{
    return mTexts.data() + mTextStarts[index];
}

void cListWidget::destroyRows()
{
    for (ClutterActor* row : mRows) {
        if (row != nullptr) {
            clutter_actor_destroy(row);
        }
    }
    mRows.clear();
}

ClutterActor* cListWidget::rowLabel(int index)
{
    ClutterActor*& row = mRows[index];
    if (row == nullptr) {
        row = clutter_text_new_full(RowFont, rowText(index), &RowColour);
        // Names come from outside and may be of any length: a long one
        // ends in an ellipsis, short enough that even grown under the
        // pointer it stays within the list.
        fitLineWithin(row, static_cast<float>(mWidth / HoverScale));
        // A selectable text would take the press for itself (to select
        // characters) and the list would never see the click.
        clutter_text_set_selectable(CLUTTER_TEXT(row), FALSE);
        clutter_actor_set_reactive(row, TRUE);
        g_object_set_qdata(G_OBJECT(row), rowQuark(), GINT_TO_POINTER(index + 1));
        clutter_actor_add_child(mRowGroup, row);
        // Hidden until it is placed near the window.
        clutter_actor_hide(row);
    }
    return row;
}

void cListWidget::placeRow(int index)
{
    ClutterActor* row = rowLabel(index);
    // A row laid out before already has its anchor at its centre; place it
    // from its corner again.
    clutter_actor_set_anchor_point(row, 0.0f, 0.0f);
    clutter_actor_set_position(row, (mWidth - actorWidth(row)) / 2, rowTop(index));
    // Hover scaling then grows the row about its centre.
    clutter_actor_move_anchor_point_from_gravity(row, CLUTTER_GRAVITY_CENTER);
    clutter_actor_show(row);
}

int cListWidget::rowTop(int index)
{
    if (!mLaidOut) {
        return 0; // where a label stands before show
    }
    while (static_cast<int>(mTops.size()) <= index) {
        const int previous = static_cast<int>(mTops.size()) - 1;
        mTops.push_back(mTops.back() + rowPitch(previous));
    }
    return mTops[index];
}

void cListWidget::buildRowsAround(int y)
{
    const int count = getCount();
    if (!mLaidOut || count == 0) {
        return;
    }
    // The window shows the row group from -y to -y + V.
    const int from = -y - mHeight;
    const int to = -y + 2 * mHeight;
    // Tops grow with the index: measure on until the span's start, find
    // the last row starting at or above it, then make every row from there
    // to the span's end.
    while (static_cast<int>(mTops.size()) < count && mTops.back() < from) {
        rowTop(static_cast<int>(mTops.size()));
    }
    const auto after = std::upper_bound(mTops.begin(), mTops.end(), from);
    const int first = std::max(0, static_cast<int>(after - mTops.begin()) - 1);
    for (int index = first; index < count && rowTop(index) < to; ++index) {
        if (!clutter_actor_is_visible(rowLabel(index))) {
            placeRow(index);
        }
    }
}

void cListWidget::show(bool withBackground, bool updateArrows)
{
    const int count = getCount();
    if (count > 0 && mRowHeight == -1) {
        mRowHeight = rowPitch(0);
    }
    const int top = listStartOffset(count, mRowHeight, mHeight);

    mTopElement = 0;
    stopEffects(mRowGroup);
    mScrollY = 0;
    clutter_actor_set_position(mRowGroup, 0.0f, 0.0f);

    // Rows stand one under the other from the start offset, each taking its
    // own pitch; the row height ends as the last row's.
    mLaidOut = true;
    mTops.assign(1, top);
    if (count > 0) {
        mRowHeight = rowPitch(count - 1);
    }
    // Labels made before are placed again when they come near the window.
    for (ClutterActor* row : mRows) {
        if (row != nullptr) {
            clutter_actor_hide(row);
        }
    }
    buildRowsAround(0);

    mHidden = false;
    setActive(-1);
    fadeList(255, backgroundOpacity(), WidgetReflectionOpacity, 0.0f, withBackground);
    if (updateArrows) {
        this->updateArrows();
    }
}

void cListWidget::hide()
{
    mHidden = true;
    fadeList(0, 0, 0, HiddenDepth, true);
}

void cListWidget::fadeList(guint8 rowsOpacity, guint8 backgroundOpacity, guint8 reflectionOpacity, float depth,
                           bool withBackground)
{
    struct {
        ClutterActor* actor;
        guint8 opacity;
    } const parts[] = {{mClip, rowsOpacity}, {mBackground, backgroundOpacity}, {mReflection, reflectionOpacity}};
    const bool showing = depth == 0.0f;
    for (const auto& part : parts) {
        if (part.actor != mClip && !withBackground) {
            continue;
        }
        stopEffects(part.actor);
        if (showing) {
            clutter_actor_set_z_position(part.actor, HiddenDepth);
            clutter_actor_set_opacity(part.actor, 0);
        }
    }
    if (showing) {
        clutter_actor_show(mBackground);
        clutter_actor_show(mClip);
        clutter_actor_show(mRowGroup);
    }
    for (const auto& part : parts) {
        if (part.actor != mClip && !withBackground) {
            continue;
        }
        effectFade(mFadeTemplate, part.actor, part.opacity);
        effectDepth(mFadeTemplate, part.actor, depth);
    }
}

guint8 cListWidget::backgroundOpacity() const
{
    return mKeyboardFocus ? KeyboardBackgroundOpacity : BackgroundOpacity;
}

void cListWidget::setKeyboardFocus(bool focused)
{
    mKeyboardFocus = focused;
    if (mHidden) {
        return; // the next show fades in to the right opacity
    }
    // Takes over from a fade-in still running: both the opacity and the
    // depth go on from where they stand.
    stopEffects(mBackground);
    effectFade(mFadeTemplate, mBackground, backgroundOpacity());
    effectDepth(mFadeTemplate, mBackground, 0.0f);
}

void cListWidget::moveSelection(int step)
{
    const int count = getCount();
    if (count == 0 || mHidden) {
        return;
    }
    const int index = mActive < 0 ? 0 : std::clamp(mActive + step, 0, count - 1);
    setActive(index);
    // Scrolled a row at a time until the row stands inside the window,
    // which shows the row group from -mScrollY to -mScrollY + V; each step
    // is refused at the list's ends, so the loops end.
    for (int steps = 0; steps < count && rowTop(index) < -mScrollY; ++steps) {
        const int before = mTopElement;
        scrollUp();
        if (mTopElement == before) {
            break;
        }
    }
    for (int steps = 0; steps < count && rowTop(index) + rowPitch(index) > -mScrollY + mHeight; ++steps) {
        const int before = mTopElement;
        scrollDown();
        if (mTopElement == before) {
            break;
        }
    }
    if (mClickSlot) {
        mClickSlot();
    }
}

void cListWidget::updateArrows()
{
    const sArrowOpacities opacities = listArrowOpacities(getCount(), mTopElement, mRowHeight, mHeight);
    fadeArrow(mUpArrow, opacities.up);
    fadeArrow(mDownArrow, opacities.down);
}

void cListWidget::fadeArrow(ClutterActor* arrow, guint8 opacity)
{
    // A fade still running goes no further; the new one starts from there.
    stopEffects(arrow);
    effectFade(mFadeTemplate, arrow, opacity);
}

void cListWidget::scrollDown()
{
    const int count = getCount();
    if (listRowsFit(count, mRowHeight, mHeight)) {
        return;
    }
    const int step = rowPitch(mTopElement);
    if (++mTopElement >= count) {
        --mTopElement;
        return;
    }
    if (!listRowsFillFrom(rowPitchesFrom(mTopElement), 0, mHeight, mRowHeight)) {
        --mTopElement;
        return;
    }
    scrollTo(mScrollY - step);
    updateArrows();
}

void cListWidget::scrollUp()
{
    if (listRowsFit(getCount(), mRowHeight, mHeight)) {
        return;
    }
    if (--mTopElement < 0) {
        ++mTopElement;
        return;
    }
    scrollTo(mScrollY + rowPitch(mTopElement));
    updateArrows();
}

void cListWidget::scrollTo(int y)
{
    // Steps add up from where the rows rest, not from where a running move
    // has got to, so the offset always matches the top element.
    mScrollY = y;
    buildRowsAround(y);
    mScrollTimeline.start();
    stopEffects(mRowGroup);
    effectMove(mScrollTemplate, mRowGroup, clutter_actor_get_x(mRowGroup), y);
}

void cListWidget::setActive(int index)
{
    if (static_cast<unsigned>(index) >= static_cast<unsigned>(getCount())) {
        clutter_actor_hide(mSelection);
        mActive = -1;
        return;
    }
    clutter_actor_show(mSelection);
    mActive = index;

    const float rowCentreY = rowTop(index) + (rowPitch(index) - 5) / 2;
    // The bar slides from wherever it stands, also from half-way.
    stopEffects(mSelection);
    effectMove(mSelectionTemplate, mSelection, mWidth / 2, rowCentreY);
}

int cListWidget::getActive() const
{
    return mActive;
}

std::u16string cListWidget::getActiveText() const
{
    if (mActive < 0 || mActive >= getCount()) {
        return {};
    }
    return kestrel::fromUtf8(rowText(mActive));
}

int cListWidget::getCount() const
{
    return static_cast<int>(mRows.size());
}

int cListWidget::getScrollY() const
{
    return mScrollY;
}

void cListWidget::setScrollY(int y)
{
    stopEffects(mRowGroup);
    mScrollY = y;
    buildRowsAround(y);
    clutter_actor_set_y(mRowGroup, y);
    updateArrows();
}

void cListWidget::setClickSlot(const sigc::slot<void>& slot)
{
    mClickSlot = slot;
}

int cListWidget::rowIndex(ClutterActor* actor) const
{
    if (actor == nullptr || clutter_actor_get_parent(actor) != mRowGroup) {
        return -1;
    }
    return GPOINTER_TO_INT(g_object_get_qdata(G_OBJECT(actor), rowQuark())) - 1;
}

int cListWidget::rowPitch(int index)
{
    if (index < 0 || index >= getCount()) {
        return mRowHeight;
    }
    if (mRows[index] != nullptr) {
        return actorHeight(mRows[index]) + 5;
    }
    const bool ascii = isPrintableAscii(rowText(index));
    if (ascii && mAsciiPitch != -1) {
        return mAsciiPitch;
    }
    if (!ascii && !mMeasuredPitches.empty() && mMeasuredPitches[index] != -1) {
        return mMeasuredPitches[index];
    }
    // Measured on a label of its own, which goes again: a row far from the
    // window keeps only its pitch.
    ClutterActor* probe = clutter_text_new_full(RowFont, ascii ? "Ag" : rowText(index), &RowColour);
    g_object_ref_sink(probe);
    const int pitch = actorHeight(probe) + 5;
    clutter_actor_destroy(probe);
    g_object_unref(probe);
    if (ascii) {
        mAsciiPitch = pitch;
    } else {
        if (mMeasuredPitches.empty()) {
            mMeasuredPitches.assign(mRows.size(), -1);
        }
        mMeasuredPitches[index] = pitch;
    }
    return pitch;
}

std::vector<int> cListWidget::rowPitchesFrom(int from)
{
    std::vector<int> pitches;
    int sum = 0;
    // At least one row: a window no taller than one row is filled by any.
    for (int index = from; index < getCount() && (pitches.empty() || sum < mHeight - mRowHeight); ++index) {
        pitches.push_back(rowPitch(index));
        sum += pitches.back();
    }
    return pitches;
}

bool cListWidget::handleEvent(ClutterEvent* event)
{
    ClutterActor* source = clutter_event_get_source(event);
    switch (clutter_event_type(event)) {
    case CLUTTER_SCROLL:
        // The wheel waits for the previous one-row move; never consumed.
        applyWheel(event, mScrollTimeline, [this] { scrollUp(); }, [this] { scrollDown(); });
        return false;

    case CLUTTER_ENTER:
    case CLUTTER_LEAVE: {
        // Crossing a row grows it about its centre or shrinks it back;
        // crossing the bare window is left to others.
        const int index = rowIndex(source);
        if (index < 0) {
            return false;
        }
        const double scale = clutter_event_type(event) == CLUTTER_ENTER ? HoverScale : 1.0;
        stopEffects(source);
        effectScale(mHoverTemplate, source, scale, scale);
        return true;
    }

    case CLUTTER_BUTTON_PRESS: {
        // A list fading out with its scene takes presses but acts on none.
        if (mHidden) {
            return true;
        }
        if (source == mUpArrow) {
            scrollUp();
            return true;
        }
        if (source == mDownArrow) {
            scrollDown();
            return true;
        }
        const int index = rowIndex(source);
        if (index >= 0) {
            setActive(index);
            // The slot comes last and may delete the list; the click goes on
            // to the stage's own handlers too.
            if (mClickSlot) {
                mClickSlot();
            }
        }
        return false;
    }

    default:
        return false;
    }
}

void applyListState(cListWidget& list, const sListState& state)
{
    list.setActive(state.active);
    list.mTopElement = state.topElement;
    list.setScrollY(state.scrollY);
}

sListState listStateOf(const cListWidget& list)
{
    return sListState{list.getActive(), list.getTopElement(), list.getScrollY()};
}

void restoreListState(const std::u16string& name, cListWidget& list)
{
    applyListState(list, readListState(name));
}

void saveListState(const std::u16string& name, const cListWidget& list)
{
    writeListState(name, listStateOf(list));
}
