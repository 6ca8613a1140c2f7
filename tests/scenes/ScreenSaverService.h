#pragma once
// A private session bus for a test: dbus-daemon started by the test, with a
// small service that owns org.freedesktop.ScreenSaver on it and records the
// Inhibit and UnInhibit calls it gets. The service answers on a thread of
// its own, so that a caller may wait for its answers on the main thread.

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gio/gio.h>

class cScreenSaverService {
public:
    // Starts the bus and the service and points DBUS_SESSION_BUS_ADDRESS
    // of this process at the bus. ready() says whether it worked.
    cScreenSaverService();
    // Stops the service and the bus.
    ~cScreenSaverService();

    bool ready() const { return mReady; }
    const std::string& failure() const { return mFailure; }
    // The calls so far: "Inhibit <cookie>" and "UnInhibit <cookie>".
    std::vector<std::string> calls();
    // Forgets the calls; the next cookie is 1 again.
    void clear();

private:
    void serve();
    static void onMethodCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
                             GVariant* parameters, GDBusMethodInvocation* invocation, gpointer self);

    GPid mDaemon = 0;
    std::string mAddress;
    std::string mFailure;
    bool mReady = false;
    GMainContext* mContext = nullptr; // the service thread's
    bool mStop = false;               // guarded by mLock
    bool mStarted = false;            // guarded by mLock: the service owns its name (or failed)
    std::mutex mLock;
    std::vector<std::string> mCalls;  // guarded by mLock
    guint32 mNextCookie = 1;          // guarded by mLock
    std::thread mThread;
};
