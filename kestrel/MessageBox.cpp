#include "kestrel/MessageBox.h"

#include "kestrel/Unicode.h"

#include <SDL.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include <pthread.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace kestrel {

namespace {

std::mutex presenterLock;
tMessageBoxPresenter presenter; // guarded by presenterLock

// A message box must show whatever text it is given, so invalid UTF-16
// becomes U+FFFD here instead of failing like the strict conversion.
std::string toUtf8Lenient(const std::u16string& text)
{
    std::string out;
    out.reserve(text.size() * 3);
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp == 0) {
            break;
        }
        appendUtf8(out, cp);
    }
    return out;
}

// The process whose thread is showing a box, set on that thread only
// while SDL shows it; 0 on every other thread.
thread_local pid_t boxOwner = 0;

// Runs in the child of every fork of the process, right after the fork.
// SDL draws its box in a child it forks for the purpose and waits for it;
// a player ended by force would leave that child on the screen, waiting
// for a click. The child therefore dies with the thread that forked it
// (which waits for it as long as the box shows), and a child whose parent
// is already gone ends before it draws anything: the parent may have died
// between the fork and the request for the signal.
void bindBoxToItsOwner()
{
    const pid_t owner = boxOwner;
    if (owner == 0) {
        return; // a fork that shows no box
    }
    boxOwner = 0;
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != owner) {
        _exit(0);
    }
}

void showDialog(const std::string& caption, const std::string& text)
{
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') {
        return; // headless: the line on standard error is the whole report
    }
    // Registered with the first box, so that a process that never shows
    // one pays nothing at its forks.
    static std::once_flag registered;
    std::call_once(registered, [] { pthread_atfork(nullptr, nullptr, bindBoxToItsOwner); });
    struct cOwnerMark {
        cOwnerMark() { boxOwner = getpid(); }
        ~cOwnerMark() { boxOwner = 0; }
    } mark;
    // SDL's simple message box needs no main loop and may be shown from any
    // thread; it returns when its button or the window's close is used.
    SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, caption.c_str(), text.c_str(), nullptr);
}

} // namespace

void showMessageBox(const std::u16string& caption, const std::u16string& text)
{
    const std::string narrowCaption = toUtf8Lenient(caption);
    const std::string narrowText = toUtf8Lenient(text);
    std::fprintf(stderr, "%s: %s\n", narrowCaption.c_str(), narrowText.c_str());
    std::fflush(stderr);

    tMessageBoxPresenter current;
    {
        std::lock_guard<std::mutex> guard(presenterLock);
        current = presenter;
    }
    try {
        if (current) {
            current(narrowCaption, narrowText);
        } else {
            showDialog(narrowCaption, narrowText);
        }
    } catch (...) {
        // The report has reached standard error; a presenter that fails must
        // not turn an error report into a second failure.
    }
}

void setMessageBoxPresenter(tMessageBoxPresenter newPresenter)
{
    std::lock_guard<std::mutex> guard(presenterLock);
    presenter = std::move(newPresenter);
}

} // namespace kestrel
