#include "widgets/ScalerWidget.h"

#include "widgets/WidgetLayout.h"

namespace {

// Stand-in width of a handle image that cannot be loaded.
constexpr float StandInHandleWidth = 12.0f;

} // namespace

cScalerWidget::cScalerWidget(cScene* scene, ClutterActor* parent, int x, int y, int width, int height)
    : cRangeWidget(scene, parent, x, y, width, height, ScalerMinimum, ScalerMaximum, ScalerStep)
{
    ClutterActor* track = groupSizedImage("scaler-bg.png");

    mHandle = loadWidgetTexture(scene, "scaler-slider.png", StandInHandleWidth, height);
    clutter_actor_set_anchor_point_from_gravity(mHandle, CLUTTER_GRAVITY_CENTER);
    clutter_actor_set_position(mHandle, 0.0f, height / 2);

    mHandleReflection = makeWidgetReflection(mHandle);
    clutter_actor_set_size(mHandleReflection, clutter_actor_get_width(mHandle), clutter_actor_get_height(mHandle));
    clutter_actor_set_anchor_point_from_gravity(mHandleReflection, CLUTTER_GRAVITY_CENTER);
    clutter_actor_set_position(mHandleReflection, 0.0f, height + height / 2 + 5);

    assemble(track, mHandle, reflectionBelow(track), mHandleReflection);
}

void cScalerWidget::showValue()
{
    const float x = scalerHandleX(width(), mValue);
    const int h = height();
    stopEffects(mHandle);
    stopEffects(mHandleReflection);
    effectMove(valueTemplate(), mHandle, x, h / 2);
    effectMove(valueTemplate(), mHandleReflection, x, h + h / 2 + 5);
}

bool cScalerWidget::pointerEvent(ClutterEvent* event, ClutterActor* source, bool isPress)
{
    // A motion without a drag is taken but changes nothing.
    if (isPress || dragging()) {
        startDrag(source);
        float pointerX = 0.0f;
        float pointerY = 0.0f;
        clutter_event_get_coords(event, &pointerX, &pointerY);
        setValue(scalerValueAt(pointerX, clutter_actor_get_x(source), width()));
    }
    return true;
}
