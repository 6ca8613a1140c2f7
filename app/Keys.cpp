#include "app/Keys.h"

#include <map>

namespace {

// A press within this long of the previous press of the same key, with no
// release between, is a repeat. The desktop repeats a held key every few
// tens of milliseconds after a first delay of about half a second.
constexpr gint64 RepeatWindowMicroseconds = 1000 * 1000;

// Main loop only: the keys pressed and not released, with the time of
// their last press.
std::map<guint, gint64> heldKeys;
// Main loop only: the press being dispatched and what the watcher found.
const ClutterEvent* dispatchedPress = nullptr;
bool dispatchedRepeated = false;

gboolean onCapturedEvent(ClutterActor*, ClutterEvent* event, gpointer)
{
    const ClutterEventType type = clutter_event_type(event);
    if (type == CLUTTER_KEY_PRESS) {
        const guint symbol = clutter_event_get_key_symbol(event);
        const gint64 now = g_get_monotonic_time();
        const auto held = heldKeys.find(symbol);
        dispatchedRepeated = held != heldKeys.end() && now - held->second < RepeatWindowMicroseconds;
        dispatchedPress = event;
        heldKeys[symbol] = now;
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
