#include "app/ScreenAwake.h"

#include <gio/gio.h>

#include <X11/Xlib.h>
#include <X11/extensions/scrnsaver.h>
#include <clutter/x11/clutter-x11.h>

#include <string>

#include "app/Toolkit.h"
#include "kestrel/Log.h"

namespace {

const char* const ServiceName = "org.freedesktop.ScreenSaver";
const char* const ServicePath = "/org/freedesktop/ScreenSaver";
const char* const ServiceInterface = "org.freedesktop.ScreenSaver";
const char* const Application = "Lumivex";
const char* const Reason = "Playing a channel";
constexpr int CallTimeoutMilliseconds = 5000;
constexpr int ReleaseTimeoutMilliseconds = 1000;

// Every field: main loop only (and the shutdown after it).
struct sAwake {
    bool wanted = false;
    bool xSuspended = false;
    bool busTried = false;
    GDBusConnection* bus = nullptr; // owned reference; null without a bus
    bool inhibitPending = false;    // an Inhibit call waits for its reply
    bool haveCookie = false;        // the service holds the screen for this cookie
    guint32 cookie = 0;
    bool serviceMissingSaid = false;
};
sAwake awake;

const char* const Subsystem = "screen";

void suspendXScreenSaver(bool suspend)
{
    Display* display = clutter_x11_get_default_display();
    if (display == nullptr) {
        return;
    }
    int eventBase = 0;
    int errorBase = 0;
    if (!XScreenSaverQueryExtension(display, &eventBase, &errorBase)) {
        if (suspend) {
            kestrel::logDebug(Subsystem, "the X server has no screen saver extension");
        }
        return;
    }
    XScreenSaverSuspend(display, suspend ? True : False);
    XFlush(display);
    awake.xSuspended = suspend;
}

GDBusConnection* sessionBus()
{
    if (!awake.busTried) {
        awake.busTried = true;
        GError* error = nullptr;
        awake.bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
        if (awake.bus != nullptr) {
            // The shared session connection would end the whole program
            // with SIGTERM when the bus goes away; losing the screen saver
            // is no reason to stop playing.
            g_dbus_connection_set_exit_on_close(awake.bus, FALSE);
        }
        if (awake.bus == nullptr) {
            kestrel::logDebug(Subsystem, std::string("no session bus, the desktop's screen saver is not asked: ") +
                                             (error != nullptr ? error->message : "unknown"));
            g_clear_error(&error);
        }
    }
    return awake.bus;
}

void callUnInhibit(guint32 cookie)
{
    g_dbus_connection_call(awake.bus, ServiceName, ServicePath, ServiceInterface, "UnInhibit",
                           g_variant_new("(u)", cookie), nullptr, G_DBUS_CALL_FLAGS_NONE, CallTimeoutMilliseconds,
                           nullptr, nullptr, nullptr);
}

void onInhibited(GObject* source, GAsyncResult* result, gpointer)
{
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
    if (awake.bus == nullptr || G_DBUS_CONNECTION(source) != awake.bus) {
        // The bus was let go at shutdown meanwhile; so was what it held.
        if (reply != nullptr) {
            g_variant_unref(reply);
        }
        g_clear_error(&error);
        return;
    }
    awake.inhibitPending = false;
    if (reply == nullptr) {
        if (!awake.serviceMissingSaid) {
            awake.serviceMissingSaid = true;
            kestrel::logDebug(Subsystem, std::string("the desktop's screen saver does not answer: ") +
                                             (error != nullptr ? error->message : "unknown"));
        }
        g_clear_error(&error);
        return;
    }
    g_variant_get(reply, "(u)", &awake.cookie);
    g_variant_unref(reply);
    awake.haveCookie = true;
    // Let go of while the answer was on its way.
    if (!awake.wanted) {
        awake.haveCookie = false;
        callUnInhibit(awake.cookie);
    }
}

} // namespace

void keepScreenAwake(bool wanted)
{
    if (wanted == awake.wanted) {
        return;
    }
    awake.wanted = wanted;
    suspendXScreenSaver(wanted);
    if (wanted) {
        GDBusConnection* bus = sessionBus();
        if (bus != nullptr && !awake.haveCookie && !awake.inhibitPending) {
            awake.inhibitPending = true;
            // The reply comes to the main loop's context, the thread's own.
            g_dbus_connection_call(bus, ServiceName, ServicePath, ServiceInterface, "Inhibit",
                                   g_variant_new("(ss)", Application, Reason), G_VARIANT_TYPE("(u)"),
                                   G_DBUS_CALL_FLAGS_NONE, CallTimeoutMilliseconds, nullptr, onInhibited, nullptr);
        }
        kestrel::logDebug(Subsystem, "kept awake");
    } else {
        if (awake.haveCookie) {
            awake.haveCookie = false;
            callUnInhibit(awake.cookie);
        }
        kestrel::logDebug(Subsystem, "may sleep");
    }
}

bool screenKeptAwake()
{
    return awake.wanted;
}

void releaseScreenAwake()
{
    awake.wanted = false;
    if (awake.xSuspended) {
        suspendXScreenSaver(false);
    }
    if (awake.bus == nullptr) {
        return;
    }
    if (awake.haveCookie) {
        awake.haveCookie = false;
        // The main loop has ended: the call waits here for its answer.
        GVariant* reply = g_dbus_connection_call_sync(awake.bus, ServiceName, ServicePath, ServiceInterface,
                                                      "UnInhibit", g_variant_new("(u)", awake.cookie), nullptr,
                                                      G_DBUS_CALL_FLAGS_NONE, ReleaseTimeoutMilliseconds, nullptr,
                                                      nullptr);
        if (reply != nullptr) {
            g_variant_unref(reply);
        }
    }
    // An Inhibit still unanswered is given back by the service when the
    // connection goes.
    g_dbus_connection_flush_sync(awake.bus, nullptr, nullptr);
    g_object_unref(awake.bus);
    awake.bus = nullptr;
    awake.busTried = false;
    awake.inhibitPending = false;
}
