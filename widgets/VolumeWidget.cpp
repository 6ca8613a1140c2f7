#include "widgets/VolumeWidget.h"

#include "widgets/WidgetLayout.h"

cVolumeWidget::cVolumeWidget(cScene* scene, ClutterActor* parent, int x, int y, int width, int height)
    : cRangeWidget(scene, parent, x, y, width, height, VolumeMinimum, VolumeMaximum, VolumeStep)
{
    mKnob = groupSizedImage("volume-button.png");
    // The knob turns about its centre: that is where its anchor goes.
    clutter_actor_move_anchor_point_from_gravity(mKnob, CLUTTER_GRAVITY_CENTER);

    ClutterActor* dial = groupSizedImage("volume-bg.png");
    assemble(mKnob, dial, reflectionBelow(mKnob), reflectionBelow(dial));
}

void cVolumeWidget::setMuted(bool muted)
{
    mMuted = muted;
    clutter_actor_set_opacity(mKnob, muted ? VolumeMutedKnobOpacity : 255);
}

void cVolumeWidget::showValue()
{
    // The centre of the turn is given relative to the anchor, which stands
    // at the knob's centre.
    stopEffects(mKnob);
    effectRotate(valueTemplate(), mKnob, CLUTTER_Z_AXIS, volumeAngle(mValue), 0.0f, 0.0f, 0.0f,
                 RotateCounterClockwise);
}

bool cVolumeWidget::pointerEvent(ClutterEvent* event, ClutterActor* source, bool isPress)
{
    if (source != group()) {
        return false;
    }
    // A motion without a drag is taken but changes nothing.
    if (!isPress && !dragging()) {
        return true;
    }
    float pointerX = 0.0f;
    float pointerY = 0.0f;
    clutter_event_get_coords(event, &pointerX, &pointerY);
    float groupX = 0.0f;
    float groupY = 0.0f;
    clutter_actor_get_position(group(), &groupX, &groupY);
    const double dx = pointerX - (groupX + width() / 2);
    const double dy = pointerY - (groupY + height() / 2);
    int value = 0;
    if (!volumeValueAt(pointerAngle(dx, dy), value)) {
        return false; // the bottom of the knob
    }
    // The drag starts before the slot runs: the slot may delete the knob.
    startDrag(source);
    setValue(value);
    return true;
}
