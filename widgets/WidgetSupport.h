#pragma once
// What the widgets share below their public classes: the owning scene's
// root container and skin images, the reflections under them, their event
// connections and the guarded hand-over of an event to a widget. Main loop
// only. Not for use outside widgets/.

#include <functional>
#include <initializer_list>
#include <utility>
#include <vector>

#include "app/Effects.h"
#include "app/Toolkit.h"

class cScene;

// The skin image fileName found through the scene's skin-path operation
// (folder "skin"). An image that cannot be loaded becomes the shell's grey
// stand-in of standInWidth x standInHeight, so the widget still has its
// shape and still works.
ClutterActor* loadWidgetTexture(cScene* scene, const char* fileName, float standInWidth, float standInHeight);

// Every reflection under a widget: a band 30 pixels high, at opacity 64.
constexpr int WidgetReflectionHeight = 30;
constexpr guint8 WidgetReflectionOpacity = 64;
// A new reflection of the texture with the widgets' band height and
// opacity; the caller positions, sizes and parents it.
ClutterActor* makeWidgetReflection(ClutterActor* texture);

// An actor's natural size in whole pixels.
int actorWidth(ClutterActor* actor);
int actorHeight(ClutterActor* actor);

// A wheel notch read by the interface's one rule (app/Wheel.h): up calls
// up, any other direction down, a smooth-scroll twin nothing; and nothing
// while the guard timeline (the previous one-frame move) still plays.
void applyWheel(ClutterEvent* event, const cTimeline& guard, const std::function<void()>& up,
                const std::function<void()>& down);

// The signal handlers a widget connects, disconnected together in the order
// they were connected.
class cEventConnections {
public:
    cEventConnections() = default;
    ~cEventConnections() { disconnectAll(); }
    cEventConnections(const cEventConnections&) = delete;
    cEventConnections& operator=(const cEventConnections&) = delete;

    // Connects handler with data to each of the actor's signals.
    void connect(ClutterActor* actor, std::initializer_list<const char*> signals, GCallback handler, gpointer data);
    void disconnectAll();

private:
    std::vector<std::pair<ClutterActor*, gulong>> mHandlers; // main loop only
};

// Runs a widget's event handling from a toolkit callback: true (consumed)
// or false as it says; an exception never escapes into the toolkit, it is
// reported as every main-loop failure is, and the event goes on.
gboolean deliverWidgetEvent(const std::function<bool()>& handle);

// The toolkit callback for every event signal of a widget: hands the event
// to the widget's own event table, tWidget::handleEvent (a friend).
template <typename tWidget>
gboolean onWidgetEvent(ClutterActor*, ClutterEvent* event, gpointer widget)
{
    return deliverWidgetEvent([&] { return static_cast<tWidget*>(widget)->handleEvent(event); });
}
