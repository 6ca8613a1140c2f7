#include "app/MainLoop.h"

#include <atomic>
#include <iterator>

#include "app/Toolkit.h"

#include <csignal>
#include <glib-unix.h>
#include "kestrel/Exception.h"
#include "kestrel/MessageBox.h"

namespace {

std::atomic<bool> runFailed{false};

// The termination signals and their main-loop sources; main thread only.
constexpr int TerminationSignals[] = {SIGINT, SIGTERM, SIGHUP};
guint signalSources[std::size(TerminationSignals)] = {};

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
    for (size_t i = 0; i < std::size(TerminationSignals); ++i) {
        signalSources[i] = g_unix_signal_add(TerminationSignals[i], quitOnSignal, nullptr);
    }
}

void endProcessOnTerminationSignals()
{
    // Nobody runs the main loop any more, so its signal sources would only
    // swallow the signals: the system's own action ends the process instead.
    // Every user file is replaced in one step, so whatever was written
    // before stays whole.
    for (size_t i = 0; i < std::size(TerminationSignals); ++i) {
        if (signalSources[i] != 0) {
            g_source_remove(signalSources[i]);
            signalSources[i] = 0;
        }
        struct sigaction action = {};
        action.sa_handler = SIG_DFL;
        sigemptyset(&action.sa_mask);
        sigaction(TerminationSignals[i], &action, nullptr);
    }
}
