#include "app/MainLoop.h"

#include <atomic>

#include "app/Toolkit.h"

#include <csignal>
#include <glib-unix.h>
#include "kestrel/Exception.h"
#include "kestrel/MessageBox.h"

namespace {

std::atomic<bool> runFailed{false};

gboolean quitMainLoop(gpointer)
{
    // Outside clutter_main (a test driving the loop by hand) there is
    // nothing to quit.
    if (clutter_main_level() > 0) {
        clutter_main_quit();
    }
    return G_SOURCE_REMOVE;
}

gboolean runPosted(gpointer data)
{
    (*static_cast<std::function<void()>*>(data))();
    return G_SOURCE_REMOVE;
}

void deletePosted(gpointer data)
{
    delete static_cast<std::function<void()>*>(data);
}

gboolean quitOnSignal(gpointer)
{
    requestMainLoopQuit();
    return G_SOURCE_CONTINUE;
}

} // namespace

void showApplicationExceptionInFlight()
{
    try {
        throw;
    } catch (const kestrel::cException& exception) {
        kestrel::showApplicationException(exception);
    } catch (...) {
        kestrel::showMessageBox(u"Application exception", u"Fatal exception");
    }
}

bool runGuarded(const std::function<void()>& work)
{
    try {
        work();
        return true;
    } catch (...) {
        showApplicationExceptionInFlight();
        markRunFailed();
        requestMainLoopQuit();
        return false;
    }
}

void postToMainLoop(int priority, std::function<void()> work)
{
    // The toolkit's idle variant runs the callback under the toolkit lock;
    // the destroy notify frees the work also when the source never runs.
    clutter_threads_add_idle_full(priority, runPosted, new std::function<void()>(std::move(work)), deletePosted);
}

void requestMainLoopQuit()
{
    // Scene switches use the same priority, so everything asked for before
    // the quit is carried out first.
    postToMainLoop(PrioritySceneSwitch, [] { quitMainLoop(nullptr); });
}

void markRunFailed()
{
    runFailed.store(true);
}

bool hasRunFailed()
{
    return runFailed.load();
}

void quitMainLoopOnTerminationSignals()
{
    // GLib turns the signals into main-loop sources: nothing runs inside
    // the signal handler itself.
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
        g_unix_signal_add(signalNumber, quitOnSignal, nullptr);
    }
}
