#include "app/Keys.h"

#include <map>
#include <typeinfo>

#include "app/Scene.h"

namespace {

// A press within this long of the previous press of the same key, with no
// release between, is a repeat. The desktop repeats a held key every few
// tens of milliseconds after a first delay of about half a second.
constexpr gint64 RepeatWindowMicroseconds = 1000 * 1000;

struct sHeldKey {
    gint64 lastPress = 0;
    // The kind of scene that was current at the key's first press (null:
    // none). A kind, not an instance: zapping replaces the player scene by
    // another player scene, and a held Down goes on stepping through them.
    const std::type_info* scene = nullptr;
};

// Main loop only: the keys pressed and not released.
std::map<guint, sHeldKey> heldKeys;
// Main loop only: the press being dispatched and what the watcher found.
const ClutterEvent* dispatchedPress = nullptr;
bool dispatchedRepeated = false;

gboolean onCapturedEvent(ClutterActor*, ClutterEvent* event, gpointer)
{
    const ClutterEventType type = clutter_event_type(event);
    if (type == CLUTTER_KEY_PRESS) {
        const guint symbol = clutter_event_get_key_symbol(event);
        const gint64 now = g_get_monotonic_time();
        const std::type_info* scene = currentScene != nullptr ? &typeid(*currentScene) : nullptr;
        sHeldKey& held = heldKeys[symbol];
        const bool repeated = held.lastPress != 0 && now - held.lastPress < RepeatWindowMicroseconds;
        held.lastPress = now;
        if (!repeated) {
            held.scene = scene;
        } else if (held.scene != scene) {
            // The key's first press led to another scene: its repeats
            // belong to the one that took that press and reach no handler
            // of this one (a held C would type into the browser's search).
            dispatchedPress = nullptr;
            return CLUTTER_EVENT_STOP;
        }
        dispatchedRepeated = repeated;
        dispatchedPress = event;
    } else if (type == CLUTTER_KEY_RELEASE) {
        heldKeys.erase(clutter_event_get_key_symbol(event));
    }
    return CLUTTER_EVENT_PROPAGATE;
}

} // namespace

eKey keyOf(const ClutterEvent* event)
{
    switch (clutter_event_get_key_symbol(event)) {
    case CLUTTER_KEY_Escape:
        return eKey::Escape;
    case CLUTTER_KEY_BackSpace:
        return eKey::BackSpace;
    case CLUTTER_KEY_Return:
    case CLUTTER_KEY_KP_Enter:
    case CLUTTER_KEY_ISO_Enter:
        return eKey::Enter;
    case CLUTTER_KEY_Tab:
    case CLUTTER_KEY_ISO_Left_Tab:
    case CLUTTER_KEY_KP_Tab:
        return eKey::Tab;
    case CLUTTER_KEY_Up:
    case CLUTTER_KEY_KP_Up:
        return eKey::Up;
    case CLUTTER_KEY_Down:
    case CLUTTER_KEY_KP_Down:
        return eKey::Down;
    case CLUTTER_KEY_Page_Up:
    case CLUTTER_KEY_KP_Page_Up:
        return eKey::PageUp;
    case CLUTTER_KEY_Page_Down:
    case CLUTTER_KEY_KP_Page_Down:
        return eKey::PageDown;
    case CLUTTER_KEY_Left:
    case CLUTTER_KEY_KP_Left:
        return eKey::Left;
    case CLUTTER_KEY_Right:
    case CLUTTER_KEY_KP_Right:
        return eKey::Right;
    case CLUTTER_KEY_minus:
    case CLUTTER_KEY_KP_Subtract:
        return eKey::Minus;
    case CLUTTER_KEY_plus:
    case CLUTTER_KEY_equal:
    case CLUTTER_KEY_KP_Add:
        return eKey::Plus;
    case CLUTTER_KEY_f:
    case CLUTTER_KEY_F:
        return eKey::F;
    case CLUTTER_KEY_F11:
        return eKey::F11;
    case CLUTTER_KEY_m:
    case CLUTTER_KEY_M:
        return eKey::M;
    case CLUTTER_KEY_c:
    case CLUTTER_KEY_C:
        return eKey::C;
    case CLUTTER_KEY_v:
    case CLUTTER_KEY_V:
        return eKey::V;
    default:
        return eKey::Other;
    }
}

sKeyPress readKey(const ClutterEvent* event)
{
    sKeyPress press;
    press.key = keyOf(event);
    press.repeated = event == dispatchedPress && dispatchedRepeated;
    return press;
}

void watchKeys(ClutterActor* stage)
{
    static bool watching = false;
    if (!watching) {
        watching = true;
        g_signal_connect(stage, "captured-event", G_CALLBACK(onCapturedEvent), nullptr);
    }
}
