#include "ScreenSaverService.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

namespace {

const char* const Introspection =
    "<node><interface name='org.freedesktop.ScreenSaver'>"
    "<method name='Inhibit'><arg type='s' direction='in'/><arg type='s' direction='in'/>"
    "<arg type='u' direction='out'/></method>"
    "<method name='UnInhibit'><arg type='u' direction='in'/></method>"
    "</interface></node>";

} // namespace

cScreenSaverService::cScreenSaverService()
{
    gchar* argv[] = {const_cast<gchar*>("dbus-daemon"), const_cast<gchar*>("--session"),
                     const_cast<gchar*>("--nofork"), const_cast<gchar*>("--print-address=1"), nullptr};
    gint out = -1;
    GError* error = nullptr;
    if (!g_spawn_async_with_pipes(nullptr, argv, nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, &mDaemon, nullptr,
                                  &out, nullptr, &error)) {
        mFailure = std::string("dbus-daemon does not start: ") + error->message;
        g_clear_error(&error);
        return;
    }
    // The daemon prints its address as one line once it listens.
    char c = 0;
    while (read(out, &c, 1) == 1 && c != '\n') {
        mAddress += c;
    }
    close(out);
    if (mAddress.empty()) {
        mFailure = "dbus-daemon printed no address";
        return;
    }
    setenv("DBUS_SESSION_BUS_ADDRESS", mAddress.c_str(), 1);

    mContext = g_main_context_new();
    mThread = std::thread([this] { serve(); });
    for (int i = 0; i < 500; ++i) {
        {
            std::lock_guard<std::mutex> lock(mLock);
            if (mStarted) {
                break;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::lock_guard<std::mutex> lock(mLock);
    if (!mStarted && mFailure.empty()) {
        mFailure = "the service did not come up";
    }
}

cScreenSaverService::~cScreenSaverService()
{
    if (mThread.joinable()) {
        {
            std::lock_guard<std::mutex> lock(mLock);
            mStop = true;
        }
        g_main_context_wakeup(mContext);
        mThread.join();
    }
    if (mContext != nullptr) {
        g_main_context_unref(mContext);
    }
    if (mDaemon != 0) {
        kill(mDaemon, SIGTERM);
        g_spawn_close_pid(mDaemon);
    }
}

void cScreenSaverService::serve()
{
    g_main_context_push_thread_default(mContext);
    GError* error = nullptr;
    GDBusConnection* connection = g_dbus_connection_new_for_address_sync(
        mAddress.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(Introspection, nullptr);
    guint registration = 0;
    if (connection != nullptr) {
        static const GDBusInterfaceVTable vtable = {onMethodCall, nullptr, nullptr, {}};
        registration = g_dbus_connection_register_object(connection, "/org/freedesktop/ScreenSaver",
                                                         node->interfaces[0], &vtable, this, nullptr, &error);
    }
    GVariant* reply = nullptr;
    if (registration != 0) {
        reply = g_dbus_connection_call_sync(connection, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                            "org.freedesktop.DBus", "RequestName",
                                            g_variant_new("(su)", "org.freedesktop.ScreenSaver", 4u),
                                            G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, &error);
    }
    {
        std::lock_guard<std::mutex> lock(mLock);
        mStarted = true;
        if (reply == nullptr) {
            mFailure = std::string("the service does not come up: ") + (error != nullptr ? error->message : "?");
        } else {
            mReady = true;
            g_variant_unref(reply);
        }
    }
    g_clear_error(&error);
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mLock);
            if (mStop) {
                break;
            }
        }
        g_main_context_iteration(mContext, TRUE);
    }
    if (registration != 0) {
        g_dbus_connection_unregister_object(connection, registration);
    }
    if (connection != nullptr) {
        g_dbus_connection_close_sync(connection, nullptr, nullptr);
        g_object_unref(connection);
    }
    g_dbus_node_info_unref(node);
    g_main_context_pop_thread_default(mContext);
}

void cScreenSaverService::onMethodCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
                                       GVariant* parameters, GDBusMethodInvocation* invocation, gpointer data)
{
    auto* self = static_cast<cScreenSaverService*>(data);
    if (g_strcmp0(method, "Inhibit") == 0) {
        guint32 cookie = 0;
        {
            std::lock_guard<std::mutex> lock(self->mLock);
            cookie = self->mNextCookie++;
            self->mCalls.push_back("Inhibit " + std::to_string(cookie));
        }
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", cookie));
        return;
    }
    guint32 cookie = 0;
    g_variant_get(parameters, "(u)", &cookie);
    {
        std::lock_guard<std::mutex> lock(self->mLock);
        self->mCalls.push_back("UnInhibit " + std::to_string(cookie));
    }
    g_dbus_method_invocation_return_value(invocation, nullptr);
}

std::vector<std::string> cScreenSaverService::calls()
{
    std::lock_guard<std::mutex> lock(mLock);
    return mCalls;
}

void cScreenSaverService::clear()
{
    std::lock_guard<std::mutex> lock(mLock);
    mCalls.clear();
    mNextCookie = 1;
}
