#include "kestrel/Tasks.h"

#include "kestrel/Exception.h"

#include <atomic>
#include <chrono>
#include <glib.h>
#include <sched.h>
#include <system_error>

namespace kestrel {

namespace {
std::atomic<bool> failNextCreation{false};
}

namespace testing {
void failNextThreadCreation() { failNextCreation = true; }
} // namespace testing

void cCriticalSection::enter()
{
    try {
        mMutex.lock();
    } catch (const std::system_error&) {
        throw cPlatformException(u"Can't lock mutex");
    }
}

void cCriticalSection::leave() { mMutex.unlock(); }

cStandaloneTask::cStandaloneTask() = default;

cStandaloneTask::~cStandaloneTask()
{
    if (mThread.joinable()) {
        if (mThread.get_id() == std::this_thread::get_id()) {
            mThread.detach(); // deleted by its own run: nothing left to wait for
        } else {
            mThread.join(); // the run has finished; the thread is only returning
        }
    }
}

bool cStandaloneTask::start()
{
    try {
        if (mThread.joinable()) {
            if (getState() != TaskFinished) {
                throw cBugException(u"Thread already run target");
            }
            // The previous run has finished: reap its thread and start over,
            // so that a waiter does not take the old TaskFinished for the new
            // run's.
            mThread.join();
        }
        setState(TaskCreated);
        try {
            if (failNextCreation.exchange(false)) {
                throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
            }
            mThread = std::thread([this] { run(); });
        } catch (const std::system_error&) {
            // No run will ever set TaskFinished; set it here so that a loop
            // waiting for it ends instead of hanging.
            setState(TaskFinished);
            throw cPlatformException(u"can't create thread");
        }
        if (mPriority != 0) {
            // Priorities other than the default are not used by this program.
            throw cPlatformException(u"can't set thread priority");
        }
        return true;
    } catch (const cException&) {
        return false;
    }
}

void cStandaloneTask::join()
{
    if (!mThread.joinable()) {
        return;
    }
    try {
        mThread.join();
    } catch (const std::system_error&) {
        throw cPlatformException(u"can't join thread");
    }
}

eTaskState cStandaloneTask::getState()
{
    cScopedLock lock(mLock);
    return mState;
}

void cStandaloneTask::setState(eTaskState state)
{
    cScopedLock lock(mLock);
    mState = state;
}

void cStandaloneTask::requestStop() { setState(TaskStopRequested); }

void cStandaloneTask::run()
{
    {
        // A stop requested between start() and this thread's first step
        // must not be lost: a task that polls for it would never end.
        cScopedLock lock(mLock);
        if (mState != TaskStopRequested) {
            mState = TaskRunning;
        }
    }
    execute();
    setState(TaskFinished);
}

void pumpOneMessage()
{
    // Only a context that this thread pushed as its own; never the main
    // thread's global context from another thread.
    GMainContext* context = g_main_context_get_thread_default();
    if (context != nullptr) {
        g_main_context_iteration(context, FALSE);
    }
}

void sleepMilliseconds(unsigned milliseconds)
{
    if (milliseconds == 0) {
        sched_yield();
    } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
}

bool waitForTask(cStandaloneTask& task, const std::function<bool()>& giveUp)
{
    // Yield at first, as short waits are the common case; a long wait
    // (a network transfer) then sleeps a millisecond a turn instead of
    // keeping a processor busy.
    for (unsigned turn = 0;; ++turn) {
        pumpOneMessage();
        if (task.getState() == TaskFinished) {
            return true;
        }
        if (giveUp && giveUp()) {
            return false;
        }
        sleepMilliseconds(turn < 1000 ? 0 : 1);
    }
}

} // namespace kestrel
