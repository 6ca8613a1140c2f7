#pragma once
// cValueWidget: the shape that the slider (cScalerWidget) and the volume
// knob (cVolumeWidget) share. A reactive group at (x, y) of w x h in a
// parent container holds the widget's two images and their reflections
// (band 30, opacity 64) and receives all of its events:
//
//   wheel         up: increase, any other notch: decrease; dropped while the
//                 previous change still animates (one frame); never consumed
//   enter, leave  end any drag; consumed
//   press         the subclass turns the pointer into a value and starts a
//                 drag (pointerEvent)
//   motion        during a drag, the same; without one, nothing
//   release       ends the drag; not consumed
//
// Every value change animates over one frame at 120 frames per second and
// then calls the change slot, also when the value stayed the same and also
// when the owner itself set it.
//
// Pointer coordinates are stage coordinates while the group's position is
// relative to its parent, so the parent container must sit at the stage's
// origin (the player scene's does).
//
// Ownership: the widget owns its group and the four children and destroys
// them in its destructor; the scene and the parent container are borrowed
// and must outlive it. Main loop only.

#include <sigc++/sigc++.h>

#include <algorithm>

#include "app/Effects.h"
#include "app/Toolkit.h"
#include "widgets/WidgetSupport.h"

class cScene;

class cValueWidget {
public:
    // Disconnects the handlers from the group, destroys the four children
    // and the group (leaving the parent), then the animation.
    virtual ~cValueWidget();
    cValueWidget(const cValueWidget&) = delete;
    cValueWidget& operator=(const cValueWidget&) = delete;

    // Shows the group and its children / hides the group.
    virtual void show();
    virtual void hide();
    // Moves the group within its parent.
    virtual void setPosition(int x, int y);
    // One step up or down, clamped (cRangeWidget).
    virtual void increase() = 0;
    virtual void decrease() = 0;

    // The slot called after every setValue; an empty slot turns it off.
    void setChangeSlot(const sigc::slot<void>& slot);

protected:
    // Creates the group at (x, y) with size width x height and the value
    // animation; the subclass then makes its children and calls assemble.
    cValueWidget(cScene* scene, ClutterActor* parent, int x, int y, int width, int height);

    // Adds the four children to the group in drawing order (later ones on
    // top), the group to the parent, and connects the events.
    void assemble(ClutterActor* first, ClutterActor* second, ClutterActor* third, ClutterActor* fourth);
    // The common end of every setValue, after the value is clamped and
    // stored: starts the value timeline, lets the subclass animate its parts
    // to the value with valueTemplate(), then calls the change slot.
    void valueChanged();
    // Moves the subclass's parts to the stored value.
    virtual void showValue() = 0;
    // A press (isPress) or a motion with its source: sets the value the
    // pointer means and starts or continues the drag, or not. True when the
    // event is consumed.
    virtual bool pointerEvent(ClutterEvent* event, ClutterActor* source, bool isPress) = 0;

    // A skin image at (0, 0) filling the group (w x h), and its reflection
    // 5 pixels below the group, of the same size.
    ClutterActor* groupSizedImage(const char* fileName) const;
    ClutterActor* reflectionBelow(ClutterActor* texture) const;

    const cEffectTemplate& valueTemplate() const { return mValueTemplate; }
    cScene* scene() const { return mScene; }
    ClutterActor* group() const { return mGroup; }
    int width() const { return mWidth; }
    int height() const { return mHeight; }
    bool dragging() const { return mDragActor != nullptr; }
    void startDrag(ClutterActor* source) { mDragActor = source; }

private:
    friend gboolean onWidgetEvent<cValueWidget>(ClutterActor*, ClutterEvent*, gpointer);
    // The event table above; true when the event is consumed.
    bool handleEvent(ClutterEvent* event);

    // Every field: main loop only.
    cScene* mScene;          // borrowed: the skin path
    ClutterActor* mParent;   // borrowed: holds the group
    sigc::slot<void> mChangeSlot;
    int mWidth;
    int mHeight;
    ClutterActor* mDragActor = nullptr; // the actor a drag started on, none without a drag
    ClutterActor* mGroup;               // owned, the only reactive actor
    ClutterActor* mChildren[4] = {};    // owned, in drawing order
    cTimeline mValueTimeline;           // one frame at 120 frames per second
    cEffectTemplate mValueTemplate;
    cEventConnections mConnections;
};

// A value widget over a range of tValue with a step: the stored value, its
// clamping and the steps of increase and decrease, the same for the slider
// and the knob.
template <typename tValue>
class cRangeWidget : public cValueWidget {
public:
    void increase() override { setValue(mValue + mStep); }
    void decrease() override { setValue(mValue - mStep); }
    // Clamps to the range, stores, moves the widget's parts to the value in
    // one frame, then calls the change slot.
    virtual void setValue(tValue value)
    {
        mValue = std::clamp(value, mMinimum, mMaximum);
        valueChanged();
    }
    virtual tValue getValue() const { return mValue; }

protected:
    cRangeWidget(cScene* scene, ClutterActor* parent, int x, int y, int width, int height, tValue minimum,
                 tValue maximum, tValue step)
        : cValueWidget(scene, parent, x, y, width, height)
        , mMinimum(minimum)
        , mMaximum(maximum)
        , mStep(step)
        , mValue(minimum)
    {
    }

    // Every field: main loop only.
    const tValue mMinimum;
    const tValue mMaximum;
    const tValue mStep;
    tValue mValue;
};
