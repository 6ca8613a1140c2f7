#include "kestrel/Application.h"
#include "kestrel/Exception.h"
#include "kestrel/Tasks.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <glib.h>
#include <thread>

using namespace kestrel;

namespace {

// Counts its runs; holds each run until released.
class cGateTask : public cStandaloneTask {
public:
    ~cGateTask() override { join(); }
    std::atomic<int> runs{0};
    std::atomic<bool> open{true};

protected:
    void execute() override
    {
        ++runs;
        while (!open) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
};

// Runs until asked to stop, as the player's event listener does.
class cPollingTask : public cStandaloneTask {
public:
    ~cPollingTask() override { join(); }
    std::atomic<bool> sawStop{false};

protected:
    void execute() override
    {
        while (getState() != TaskStopRequested) {
            sleepMilliseconds(1);
        }
        sawStop = true;
    }
};

} // namespace

TEST(Tasks, RunsToFinishedAndCanBeRestarted)
{
    cGateTask task;
    EXPECT_EQ(task.getState(), TaskCreated);
    ASSERT_TRUE(task.start());
    EXPECT_TRUE(waitForTask(task));
    EXPECT_EQ(task.getState(), TaskFinished);
    EXPECT_EQ(task.runs, 1);

    ASSERT_TRUE(task.start());
    EXPECT_TRUE(waitForTask(task));
    EXPECT_EQ(task.runs, 2);
}

TEST(Tasks, SecondStartWhileRunningIsRefused)
{
    cGateTask task;
    task.open = false;
    ASSERT_TRUE(task.start());
    while (task.runs == 0) {
        sleepMilliseconds(1);
    }
    EXPECT_FALSE(task.start());
    EXPECT_EQ(task.getState(), TaskRunning);
    task.open = true;
    EXPECT_TRUE(waitForTask(task));
    EXPECT_EQ(task.runs, 1);
}

TEST(Tasks, StopRequestIsSeenByAPollingTask)
{
    cPollingTask task;
    ASSERT_TRUE(task.start());
    while (task.getState() != TaskRunning) {
        sleepMilliseconds(1);
    }
    task.requestStop();
    task.join();
    EXPECT_TRUE(task.sawStop);
    EXPECT_EQ(task.getState(), TaskFinished); // not TaskStopRequested
}

TEST(Tasks, StopRequestedBeforeTheThreadRunsIsKept)
{
    // Many tries, so that some stop requests land before the thread begins.
    for (int i = 0; i < 200; ++i) {
        cPollingTask task;
        ASSERT_TRUE(task.start());
        task.requestStop();
        task.join(); // would hang if the request were overwritten
        EXPECT_TRUE(task.sawStop);
        EXPECT_EQ(task.getState(), TaskFinished);
    }
}

TEST(Tasks, JoinOfANeverStartedTaskReturnsAtOnce)
{
    cGateTask task;
    task.join();
    EXPECT_EQ(task.getState(), TaskCreated);
    EXPECT_EQ(task.runs, 0);
}

TEST(Tasks, AFailedThreadCreationNeverLeavesAWaiterHanging)
{
    cGateTask task;
    kestrel::testing::failNextThreadCreation();
    EXPECT_FALSE(task.start());
    EXPECT_TRUE(waitForTask(task)); // ends at once instead of waiting forever
    EXPECT_EQ(task.runs, 0);
    // The task can still be started later.
    ASSERT_TRUE(task.start());
    EXPECT_TRUE(waitForTask(task));
    EXPECT_EQ(task.runs, 1);
}

TEST(Tasks, WaitGivesUpWhenAsked)
{
    cGateTask task;
    task.open = false;
    ASSERT_TRUE(task.start());
    int turns = 0;
    EXPECT_FALSE(waitForTask(task, [&turns] { return ++turns == 5; }));
    task.open = true;
    task.join();
}

TEST(Tasks, CriticalSectionIsReentrantAndExcludesOthers)
{
    cCriticalSection section;
    int counter = 0;
    {
        cScopedLock outer(section);
        cScopedLock inner(section); // the owner may enter again
        ++counter;
    }
    std::thread others[4];
    for (std::thread& t : others) {
        t = std::thread([&] {
            for (int i = 0; i < 10000; ++i) {
                cScopedLock lock(section);
                ++counter;
            }
        });
    }
    for (std::thread& t : others) {
        t.join();
    }
    EXPECT_EQ(counter, 40001);
}

TEST(Tasks, PumpIteratesOnlyTheThreadsOwnContext)
{
    pumpOneMessage(); // nothing pushed: returns at once

    // A source on the global default context is not run from here.
    int globalRuns = 0;
    const guint globalSource = g_idle_add(
        [](gpointer data) -> gboolean {
            ++*static_cast<int*>(data);
            return G_SOURCE_REMOVE;
        },
        &globalRuns);

    std::atomic<int> ownRuns{0};
    std::thread worker([&ownRuns] {
        GMainContext* context = g_main_context_new();
        g_main_context_push_thread_default(context);
        GSource* idle = g_idle_source_new();
        g_source_set_callback(
            idle,
            [](gpointer data) -> gboolean {
                ++*static_cast<std::atomic<int>*>(data);
                return G_SOURCE_REMOVE;
            },
            &ownRuns, nullptr);
        g_source_attach(idle, context);
        g_source_unref(idle);
        pumpOneMessage();
        pumpOneMessage(); // empty queue now: returns at once
        g_main_context_pop_thread_default(context);
        g_main_context_unref(context);
    });
    worker.join();
    EXPECT_EQ(ownRuns, 1);
    EXPECT_EQ(globalRuns, 0);
    g_source_remove(globalSource);
}

namespace {
class cTestApplication : public kestrel::cApplication {
public:
    int run(int32_t, int32_t) override { return 1; }
};
} // namespace

TEST(Application, OneInstanceWithAThreadSafeTerminatingFlag)
{
    EXPECT_EQ(cApplication::instance(), nullptr);
    EXPECT_FALSE(applicationIsTerminating());
    {
        cTestApplication application;
        EXPECT_EQ(cApplication::instance(), &application);
        EXPECT_FALSE(application.isTerminating());
        std::thread other([&application] { application.setTerminating(true); });
        other.join();
        EXPECT_TRUE(applicationIsTerminating());
    }
    EXPECT_EQ(cApplication::instance(), nullptr);
}
