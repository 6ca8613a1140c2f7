// Linked into every test program (lumivex_add_test): a test program that
// dies of SIGSEGV, SIGABRT or SIGBUS first writes to standard error (the
// one it started with, even while a test captures descriptor 2) which
// signal it was, the backtrace of the thread that died, and the backtrace of
// every other thread of the process, then dies of the same signal as it
// would have (the exit status and any core dump stay the same).
//
// The handler uses only calls that are safe in a signal handler: write,
// open/read of /proc, getdents64, tgkill, nanosleep, and glibc's backtrace
// and backtrace_symbols_fd (loaded once at start, so that they do not
// allocate later). The other threads are asked one at a time with a
// real-time signal; each writes its own trace from its own handler, so the
// traces do not mix. A thread that does not answer within half a second
// (it blocks the signal, or is stuck in the kernel) is named and skipped.
//
// Under AddressSanitizer and ThreadSanitizer, whose own handlers report
// SIGSEGV and SIGBUS better, only SIGABRT is taken.

#include <dirent.h>
#include <execinfo.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool TakeFaults = false;
#else
constexpr bool TakeFaults = true;
#endif

constexpr int MaxFrames = 64;
constexpr int MaxThreads = 128;
constexpr long AnswerWaitMs = 500;

std::atomic<pid_t> gCrashingThread{0}; // the thread writing the report, or 0
// The standard error the program started with, kept apart: a test that
// captures standard error for a while (dup2 over descriptor 2) must not
// swallow the report.
int gReportFd = STDERR_FILENO; // set before the handlers are installed
std::atomic<int> gAnswers{0};           // traces written by other threads so far

int traceSignal() { return SIGRTMIN + 7; }

pid_t threadId() { return static_cast<pid_t>(::syscall(SYS_gettid)); }

void writeText(const char* text)
{
    size_t left = std::strlen(text);
    while (left > 0) {
        const ssize_t written = ::write(gReportFd, text, left);
        if (written <= 0) {
            if (written < 0 && errno == EINTR) {
                continue;
            }
            return;
        }
        text += written;
        left -= static_cast<size_t>(written);
    }
}

void writeNumber(long value)
{
    char digits[24];
    char* end = digits + sizeof(digits) - 1;
    *end = '\0';
    char* at = end;
    const bool negative = value < 0;
    unsigned long magnitude = negative ? 0UL - static_cast<unsigned long>(value) : static_cast<unsigned long>(value);
    do {
        *--at = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (negative) {
        *--at = '-';
    }
    writeText(at);
}

// "thread 1234 (name)" from /proc/self/task/1234/comm.
void writeThread(pid_t thread)
{
    writeText("thread ");
    writeNumber(thread);
    char path[64] = "/proc/self/task/";
    char number[24];
    {
        char* end = number + sizeof(number) - 1;
        *end = '\0';
        char* at = end;
        unsigned long value = static_cast<unsigned long>(thread);
        do {
            *--at = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0);
        std::strcat(path, at);
    }
    std::strcat(path, "/comm");
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    char name[32] = {};
    const ssize_t got = ::read(fd, name, sizeof(name) - 1);
    ::close(fd);
    if (got > 0) {
        if (name[got - 1] == '\n') {
            name[got - 1] = '\0';
        }
        writeText(" (");
        writeText(name);
        writeText(")");
    }
}

void writeBacktrace()
{
    void* frames[MaxFrames];
    const int count = ::backtrace(frames, MaxFrames);
    ::backtrace_symbols_fd(frames, count, gReportFd);
}

const char* signalName(int signal)
{
    switch (signal) {
    case SIGSEGV:
        return "SIGSEGV";
    case SIGABRT:
        return "SIGABRT";
    case SIGBUS:
        return "SIGBUS";
    default:
        return "signal";
    }
}

void sleepMs(long milliseconds)
{
    timespec pause{0, milliseconds * 1000000L};
    while (::nanosleep(&pause, &pause) != 0 && errno == EINTR) {
    }
}

// Another thread's answer to the report: its own trace.
void onTraceRequest(int)
{
    const int savedErrno = errno;
    writeText("\n--- ");
    writeThread(threadId());
    writeText(":\n");
    writeBacktrace();
    gAnswers.fetch_add(1);
    errno = savedErrno;
}

// Asks every other thread of the process for its trace, one at a time.
void traceOtherThreads(pid_t self)
{
    const int fd = ::open("/proc/self/task", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    alignas(8) char entries[4096];
    int asked = 0;
    for (;;) {
        const long got = ::syscall(SYS_getdents64, fd, entries, sizeof(entries));
        if (got <= 0) {
            break;
        }
        for (long at = 0; at < got;) {
            struct cEntry {
                uint64_t inode;
                int64_t offset;
                unsigned short length;
                unsigned char type;
                char name[1];
            };
            const auto* entry = reinterpret_cast<const cEntry*>(entries + at);
            at += entry->length;
            pid_t thread = 0;
            for (const char* c = entry->name; *c; ++c) {
                if (*c < '0' || *c > '9') {
                    thread = 0;
                    break;
                }
                thread = thread * 10 + (*c - '0');
            }
            if (thread == 0 || thread == self) {
                continue;
            }
            if (++asked > MaxThreads) {
                writeText("\n(more threads not shown)\n");
                ::close(fd);
                return;
            }
            const int before = gAnswers.load();
            if (::syscall(SYS_tgkill, ::getpid(), thread, traceSignal()) != 0) {
                continue; // ended meanwhile
            }
            long waited = 0;
            while (gAnswers.load() == before && waited < AnswerWaitMs) {
                sleepMs(1);
                ++waited;
            }
            if (gAnswers.load() == before) {
                writeText("\n--- ");
                writeThread(thread);
                writeText(": did not answer\n");
            }
        }
    }
    ::close(fd);
}

void onCrash(int signal, siginfo_t*, void*)
{
    const pid_t self = threadId();
    pid_t expected = 0;
    if (!gCrashingThread.compare_exchange_strong(expected, self)) {
        if (expected == self) {
            // The report itself crashed: end as the signal would have.
            std::signal(signal, SIG_DFL);
            ::raise(signal);
            return;
        }
        // Another thread is writing the report and will end the process.
        for (;;) {
            sleepMs(1000);
        }
    }
    writeText("\n*** ");
    writeText(signalName(signal));
    writeText(" in ");
    writeThread(self);
    writeText(":\n");
    writeBacktrace();
    traceOtherThreads(self);
    writeText("*** end of the threads' backtraces\n");
    // Delivered once this handler returns (the signal is blocked while it
    // runs); a fault would also come back when its instruction runs again.
    std::signal(signal, SIG_DFL);
    ::raise(signal);
}

void install(int signal, void (*handler)(int, siginfo_t*, void*), int flags)
{
    struct sigaction action;
    std::memset(&action, 0, sizeof(action));
    action.sa_sigaction = handler;
    action.sa_flags = SA_SIGINFO | flags;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, nullptr);
}

struct cInstaller {
    cInstaller()
    {
        // The first call loads the unwinder; a handler must not be the one
        // to do it.
        void* frames[2];
        ::backtrace(frames, 2);
        const int saved = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
        if (saved >= 0) {
            gReportFd = saved;
        }

        struct sigaction answer;
        std::memset(&answer, 0, sizeof(answer));
        answer.sa_handler = onTraceRequest;
        answer.sa_flags = SA_RESTART;
        sigemptyset(&answer.sa_mask);
        ::sigaction(traceSignal(), &answer, nullptr);

        install(SIGABRT, onCrash, SA_ONSTACK);
        if (TakeFaults) {
            // A stack overflow leaves no stack to run on: the handler gets
            // one of its own.
            static char alternateStack[64 * 1024];
            stack_t stack{};
            stack.ss_sp = alternateStack;
            stack.ss_size = sizeof(alternateStack);
            ::sigaltstack(&stack, nullptr);
            install(SIGSEGV, onCrash, SA_ONSTACK);
            install(SIGBUS, onCrash, SA_ONSTACK);
        }
    }
};

const cInstaller gInstaller;

} // namespace
