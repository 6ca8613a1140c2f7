#include "widgets/ValueWidget.h"

cValueWidget::cValueWidget(cScene* scene, ClutterActor* parent, int x, int y, int width, int height)
    : mScene(scene)
    , mParent(parent)
    , mWidth(width)
    , mHeight(height)
    , mGroup(clutter_actor_new())
    , mValueTimeline(1, 120)
    , mValueTemplate(mValueTimeline, AlphaSmoothstepInc)
{
    clutter_actor_set_position(mGroup, x, y);
    clutter_actor_set_size(mGroup, width, height);
}

cValueWidget::~cValueWidget()
{
    mConnections.disconnectAll();
    for (ClutterActor* child : mChildren) {
        if (child != nullptr) {
            clutter_actor_destroy(child);
        }
    }
    clutter_actor_destroy(mGroup);
    // The timeline, the template and the slot go with the members.
}

void cValueWidget::assemble(ClutterActor* first, ClutterActor* second, ClutterActor* third, ClutterActor* fourth)
{
    ClutterActor* const children[] = {first, second, third, fourth};
    for (int index = 0; index < 4; ++index) {
        mChildren[index] = children[index];
        clutter_actor_add_child(mGroup, children[index]);
    }
    clutter_actor_add_child(mParent, mGroup);
    clutter_actor_set_reactive(mGroup, TRUE);

    const GCallback handler = G_CALLBACK(onWidgetEvent<cValueWidget>);
    mConnections.connect(mGroup,
                         {"scroll-event", "enter-event", "leave-event", "button-press-event", "button-release-event",
                          "motion-event"},
                         handler, this);
}

ClutterActor* cValueWidget::groupSizedImage(const char* fileName) const
{
    ClutterActor* image = loadWidgetTexture(mScene, fileName, mWidth, mHeight);
    clutter_actor_set_position(image, 0.0f, 0.0f);
    clutter_actor_set_size(image, mWidth, mHeight);
    return image;
}

ClutterActor* cValueWidget::reflectionBelow(ClutterActor* texture) const
{
    ClutterActor* reflection = makeWidgetReflection(texture);
    clutter_actor_set_position(reflection, 0.0f, mHeight + 5);
    clutter_actor_set_size(reflection, mWidth, mHeight);
    return reflection;
}

void cValueWidget::show()
{
    for (ClutterActor* child : mChildren) {
        clutter_actor_show(child);
    }
    clutter_actor_show(mGroup);
}

void cValueWidget::hide()
{
    clutter_actor_hide(mGroup);
}

void cValueWidget::setPosition(int x, int y)
{
    clutter_actor_set_position(mGroup, x, y);
}

void cValueWidget::setChangeSlot(const sigc::slot<void>& slot)
{
    mChangeSlot = slot;
}

void cValueWidget::valueChanged()
{
    mValueTimeline.start();
    showValue();
    if (mChangeSlot) {
        mChangeSlot();
    }
}

bool cValueWidget::handleEvent(ClutterEvent* event)
{
    ClutterActor* source = clutter_event_get_source(event);
    switch (clutter_event_type(event)) {
    case CLUTTER_SCROLL:
        applyWheel(event, mValueTimeline, [this] { increase(); }, [this] { decrease(); });
        return false;

    case CLUTTER_ENTER:
    case CLUTTER_LEAVE:
        if (source == nullptr) {
            return false;
        }
        mDragActor = nullptr;
        return true;

    case CLUTTER_BUTTON_PRESS:
    case CLUTTER_MOTION:
        if (source == nullptr) {
            return false;
        }
        return pointerEvent(event, source, clutter_event_type(event) == CLUTTER_BUTTON_PRESS);

    case CLUTTER_BUTTON_RELEASE:
        mDragActor = nullptr;
        return false;

    default:
        return false;
    }
}
