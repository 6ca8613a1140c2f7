#include "tests/support/XWindows.h"

#include <X11/Xatom.h>

#include <chrono>
#include <cstring>
#include <thread>

namespace testsupport {

cDisplay::cDisplay() : mDisplay(XOpenDisplay(nullptr))
{
    if (mDisplay != nullptr) {
        XSetErrorHandler(recordError);
    }
}

cDisplay::~cDisplay()
{
    if (mDisplay != nullptr) {
        XCloseDisplay(mDisplay);
    }
}

int cDisplay::recordError(Display*, XErrorEvent* error)
{
    lastError = error->error_code;
    return 0;
}

// Runs the requests and waits for the server's answer to all of them; false
// when one failed (the window went away meanwhile).
template <typename tRequests>
bool cDisplay::guarded(tRequests requests)
{
    XSync(mDisplay, False);
    lastError = Success;
    requests();
    XSync(mDisplay, False);
    return lastError == Success;
}

std::vector<Window> cDisplay::topLevelWindows()
{
    std::vector<Window> result;
    if (mDisplay == nullptr) {
        return result;
    }
    Window root = DefaultRootWindow(mDisplay);
    Window parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    bool listed = false;
    guarded([&] { listed = XQueryTree(mDisplay, root, &root, &parent, &children, &count) != 0; });
    if (listed && children != nullptr) {
        result.assign(children, children + count);
    }
    if (children != nullptr) {
        XFree(children);
    }
    return result;
}

std::optional<cDisplay::cProperty> cDisplay::property(Window window, const char* name, Atom type, long length)
{
    unsigned char* data = nullptr;
    Atom actualType = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    int status = BadImplementation;
    const bool answered = guarded([&] {
        status = XGetWindowProperty(mDisplay, window, XInternAtom(mDisplay, name, False), 0, length, False, type,
                                    &actualType, &format, &count, &remaining, &data);
    });
    std::optional<cProperty> result;
    if (answered && status == Success && data != nullptr) {
        // Xlib hands 32-bit items out as longs.
        const size_t itemSize = format == 32 ? sizeof(long) : static_cast<size_t>(format / 8);
        result = cProperty{std::string(reinterpret_cast<const char*>(data), count * itemSize), count};
    }
    if (data != nullptr) {
        XFree(data);
    }
    return result;
}

long cDisplay::windowPid(Window window)
{
    long pid = -1;
    if (const auto found = property(window, "_NET_WM_PID", XA_CARDINAL, 1); found && found->count == 1) {
        std::memcpy(&pid, found->bytes.data(), sizeof(pid));
    }
    return pid;
}

std::string cDisplay::title(Window window)
{
    if (mDisplay == nullptr || window == 0) {
        return {};
    }
    std::string result;
    if (const auto found = property(window, "_NET_WM_NAME", XInternAtom(mDisplay, "UTF8_STRING", False), 1024)) {
        result = found->bytes;
    }
    if (result.empty()) {
        // Plain WM_NAME, as simpler toolkits (a message box) set it.
        char* name = nullptr;
        if (guarded([&] { XFetchName(mDisplay, window, &name); }) && name != nullptr) {
            result = name;
        }
        if (name != nullptr) {
            XFree(name);
        }
    }
    return result;
}

Window cDisplay::findWindow(pid_t pid, const std::string& wanted)
{
    for (Window candidate : topLevelWindows()) {
        if (windowPid(candidate) == pid && (wanted.empty() || title(candidate) == wanted)) {
            return candidate;
        }
    }
    return 0;
}

Window cDisplay::findWindowByTitle(const std::string& wanted)
{
    for (Window candidate : topLevelWindows()) {
        if (title(candidate) == wanted) {
            return candidate;
        }
    }
    return 0;
}

bool cDisplay::close(Window window)
{
    if (mDisplay == nullptr) {
        return false;
    }
    return guarded([&] {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = XInternAtom(mDisplay, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = static_cast<long>(XInternAtom(mDisplay, "WM_DELETE_WINDOW", False));
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(mDisplay, window, False, NoEventMask, &event);
    });
}

Window cDisplay::waitForWindow(pid_t pid, const std::string& wanted, int timeoutMs)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
        if (const Window window = findWindow(pid, wanted); window != 0) {
            return window;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return 0;
}

} // namespace testsupport
