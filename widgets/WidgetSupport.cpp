#include "widgets/WidgetSupport.h"

#include <cmath>
#include <string>

#include "app/MainLoop.h"
#include "app/Reflection.h"
#include "app/Scene.h"
#include "app/Wheel.h"

ClutterActor* loadWidgetTexture(cScene* scene, const char* fileName, float standInWidth, float standInHeight)
{
    // The scene's path lives in a shared buffer that the next call reuses.
    const std::string path = scene->skinPath(fileName, "skin");
    return loadTextureFile(path.c_str(), standInWidth, standInHeight);
}

ClutterActor* makeWidgetReflection(ClutterActor* texture)
{
    ClutterActor* reflection = lumivex_texture_reflection_new(CLUTTER_TEXTURE(texture));
    lumivex_texture_reflection_set_reflection_height(LUMIVEX_TEXTURE_REFLECTION(reflection), WidgetReflectionHeight);
    clutter_actor_set_opacity(reflection, WidgetReflectionOpacity);
    return reflection;
}

int actorWidth(ClutterActor* actor)
{
    return static_cast<int>(std::lround(clutter_actor_get_width(actor)));
}

int actorHeight(ClutterActor* actor)
{
    return static_cast<int>(std::lround(clutter_actor_get_height(actor)));
}

void applyWheel(ClutterEvent* event, const cTimeline& guard, const std::function<void()>& up,
                const std::function<void()>& down)
{
    if (guard.isPlaying()) {
        return;
    }
    switch (wheelStep(event)) {
    case eWheelStep::Up:
        up();
        break;
    case eWheelStep::Down:
        down();
        break;
    case eWheelStep::None:
        break;
    }
}

void cEventConnections::connect(ClutterActor* actor, std::initializer_list<const char*> signals, GCallback handler,
                                gpointer data)
{
    for (const char* signal : signals) {
        mHandlers.emplace_back(actor, g_signal_connect(actor, signal, handler, data));
    }
}

void cEventConnections::disconnectAll()
{
    for (const auto& [actor, id] : mHandlers) {
        g_signal_handler_disconnect(actor, id);
    }
    mHandlers.clear();
}

gboolean deliverWidgetEvent(const std::function<bool()>& handle)
{
    bool consumed = false;
    runGuarded([&] { consumed = handle(); });
    return consumed ? CLUTTER_EVENT_STOP : CLUTTER_EVENT_PROPAGATE;
}
