// The crash report every test program carries (CrashTrace.cpp): a program
// that dies of a signal says where, for every thread, and still dies of
// that signal.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <thread>

namespace {

// Starts a thread named "parked" that waits forever, then dies of what
// die() does.
template <typename tDie> void dieWithASecondThread(tDie die)
{
    std::atomic<bool> running{false};
    std::thread parked([&running] {
        pthread_setname_np(pthread_self(), "parked");
        running = true;
        for (;;) {
            std::this_thread::sleep_for(std::chrono::seconds(1));
        }
    });
    while (!running) {
        std::this_thread::yield();
    }
    die();
    parked.join();
}

} // namespace

TEST(CrashTrace, AnAbortWritesTheBacktraceOfEveryThread)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // The test had put its standard error aside, as a test that captures
    // it does: the report still reaches the program's own.
    EXPECT_EXIT(dieWithASecondThread([] {
                    const int nowhere = ::open("/dev/null", O_WRONLY);
                    ::dup2(nowhere, STDERR_FILENO);
                    std::abort();
                }),
                ::testing::KilledBySignal(SIGABRT),
                "\\*\\*\\* SIGABRT in thread [0-9]+ .*\n.*\\(abort\\+.*"
                "--- thread [0-9]+ \\(parked\\):\n.*"
                "\\*\\*\\* end of the threads' backtraces");
}

TEST(CrashTrace, AFaultIsReportedAndStillEndsTheProgram)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizer reports faults itself";
#endif
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(dieWithASecondThread([] { std::raise(SIGSEGV); }), ::testing::KilledBySignal(SIGSEGV),
                "\\*\\*\\* SIGSEGV in thread [0-9]+ .*--- thread [0-9]+ \\(parked\\):");
}
