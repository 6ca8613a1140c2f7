#include "widgets/ListWidget.h"

#include "app/Scene.h"

#include "kestrel/Unicode.h"
#include "state/ListStates.h"
#include "widgets/WidgetLayout.h"

namespace {

constexpr guint8 BackgroundOpacity = 128;
constexpr float HiddenDepth = 100.0f;
constexpr double HoverScale = 1.2;
const char* const RowFont = "Monospace";
constexpr ClutterColor RowColour = {255, 255, 255, 255};

// Stand-in sizes for images that cannot be loaded.
constexpr float StandInArrowWidth = 32.0f;
constexpr float StandInArrowHeight = 16.0f;
constexpr float StandInBarHeight = 24.0f;

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
    for (ClutterActor* row : mRows) {
        clutter_actor_destroy(row);
    }
    clutter_actor_destroy(mBackground);
    clutter_actor_destroy(mReflection);
    clutter_actor_destroy(mUpArrow);
    clutter_actor_destroy(mDownArrow);
    clutter_actor_destroy(mSelection);
    clutter_actor_destroy(mRowGroup);
    clutter_actor_destroy(mClip);
    mRows.clear();
    // The timeline, the templates and the slot go with the members.
}

void cListWidget::setItems(const std::vector<std::u16string>& items)
{
    for (ClutterActor* row : mRows) {
        clutter_actor_destroy(row);
    }
    mRows.clear();
    for (const std::u16string& item : items) {
        ClutterActor* row = clutter_text_new_full(RowFont, kestrel::toUtf8(item).c_str(), &RowColour);
        // A selectable text would take the press for itself (to select
        // characters) and the list would never see the click.
        clutter_text_set_selectable(CLUTTER_TEXT(row), FALSE);
        clutter_actor_set_reactive(row, TRUE);
        clutter_actor_add_child(mRowGroup, row);
        mRows.push_back(row);
    }
}

void cListWidget::show(bool withBackground, bool updateArrows)
{
    const int count = getCount();
    if (count > 0 && mRowHeight == -1) {
        mRowHeight = actorHeight(mRows.front()) + 5;
    }
    int top = listStartOffset(count, mRowHeight, mHeight);

    mTopElement = 0;
    stopEffects(mRowGroup);
    mScrollY = 0;
    clutter_actor_set_position(mRowGroup, 0.0f, 0.0f);

    for (ClutterActor* row : mRows) {
        mRowHeight = actorHeight(row) + 5;
        // A row laid out before already has its anchor at its centre; place
        // it from its corner again.
        clutter_actor_set_anchor_point(row, 0.0f, 0.0f);
        clutter_actor_set_position(row, (mWidth - actorWidth(row)) / 2, top);
        top += mRowHeight;
        // Hover scaling then grows the row about its centre.
        clutter_actor_move_anchor_point_from_gravity(row, CLUTTER_GRAVITY_CENTER);
    }

    setActive(-1);
    fadeList(255, BackgroundOpacity, WidgetReflectionOpacity, 0.0f, withBackground);
    if (updateArrows) {
        this->updateArrows();
    }
}

void cListWidget::hide()
{
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
    if (!listRowsFillFrom(rowPitches(), mTopElement, mHeight, mRowHeight)) {
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

    ClutterActor* row = mRows[index];
    float anchorX = 0.0f;
    float anchorY = 0.0f;
    clutter_actor_get_anchor_point(row, &anchorX, &anchorY);
    const float rowCentreY = clutter_actor_get_y(row) - anchorY + actorHeight(row) / 2;
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
    return kestrel::fromUtf8(clutter_text_get_text(CLUTTER_TEXT(mRows[mActive])));
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
    clutter_actor_set_y(mRowGroup, y);
    updateArrows();
}

void cListWidget::setClickSlot(const sigc::slot<void>& slot)
{
    mClickSlot = slot;
}

int cListWidget::rowIndex(ClutterActor* actor) const
{
    for (size_t index = 0; index < mRows.size(); ++index) {
        if (mRows[index] == actor) {
            return static_cast<int>(index);
        }
    }
    return -1;
}

int cListWidget::rowPitch(int index) const
{
    if (index < 0 || index >= getCount()) {
        return mRowHeight;
    }
    return actorHeight(mRows[index]) + 5;
}

std::vector<int> cListWidget::rowPitches() const
{
    std::vector<int> pitches;
    pitches.reserve(mRows.size());
    for (size_t index = 0; index < mRows.size(); ++index) {
        pitches.push_back(rowPitch(static_cast<int>(index)));
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

void restoreListState(const std::u16string& name, cListWidget& list)
{
    const sListState state = readListState(name);
    list.setActive(state.active);
    list.mTopElement = state.topElement;
    list.setScrollY(state.scrollY);
}

void saveListState(const std::u16string& name, const cListWidget& list)
{
    writeListState(name, sListState{list.getActive(), list.getTopElement(), list.getScrollY()});
}
