#pragma once
// Locks, tasks that own one thread and expose a polled state, and the two
// waiting aids.

#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace kestrel {

// Re-entrant for its owning thread, like the platform critical section.
class cCriticalSection {
public:
    cCriticalSection() = default;
    cCriticalSection(const cCriticalSection&) = delete;
    cCriticalSection& operator=(const cCriticalSection&) = delete;

    // Throws cPlatformException "Can't lock mutex" when the lock fails.
    void enter();
    void leave();

private:
    std::recursive_mutex mMutex;
};

class cScopedLock {
public:
    explicit cScopedLock(cCriticalSection* section) : mSection(section) { mSection->enter(); }
    explicit cScopedLock(cCriticalSection& section) : cScopedLock(&section) {}
    ~cScopedLock() { mSection->leave(); }
    cScopedLock(const cScopedLock&) = delete;
    cScopedLock& operator=(const cScopedLock&) = delete;

private:
    cCriticalSection* mSection;
};

class cRunnable {
public:
    virtual ~cRunnable() = default;
    virtual void run() = 0;
};

enum eTaskState : int32_t {
    TaskCreated = 0,
    TaskRunning = 2,
    TaskStopRequested = 3,
    TaskFinished = 4,
};

class cStandaloneTask : public cRunnable {
public:
    cStandaloneTask();
    // Joins a thread that has finished its run. A task must not be deleted
    // while its run is still going.
    ~cStandaloneTask() override;
    cStandaloneTask(const cStandaloneTask&) = delete;
    cStandaloneTask& operator=(const cStandaloneTask&) = delete;

    // Starts execute() on a new thread. False when the previous run is still
    // going (that run goes on) or when no thread could be made. In the
    // second case the task is left in TaskFinished without having run, so
    // that a loop waiting for TaskFinished always ends; its results keep
    // the values they had before start().
    bool start();
    // Waits for the thread to end; nothing when never started.
    // Throws cPlatformException "can't join thread".
    void join();

    eTaskState getState();
    void setState(eTaskState state);
    void requestStop();

    // run(): TaskRunning (unless a stop was already requested), execute(),
    // TaskFinished.
    void run() final;

protected:
    virtual void execute() = 0;

private:
    cCriticalSection mLock;
    eTaskState mState = TaskCreated; // guarded by mLock
    std::thread mThread;             // owner's thread only
    int mPriority = 0;               // 0 leaves the platform default
};

// One non-blocking iteration of the calling thread's own thread-default
// GLib main context, when it has pushed one; otherwise returns at once.
void pumpOneMessage();
// 0 yields the processor; other values sleep.
void sleepMilliseconds(unsigned milliseconds);

// The waiting loop: pump one message, stop at TaskFinished, yield, repeat.
// Returns false, without waiting further, as soon as giveUp() is true.
bool waitForTask(cStandaloneTask& task, const std::function<bool()>& giveUp = {});

namespace testing {
// Makes the next thread creation of cStandaloneTask::start() fail.
void failNextThreadCreation();
}

} // namespace kestrel
