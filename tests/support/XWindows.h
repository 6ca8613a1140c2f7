#pragma once
// The test's own connection to the X server the program under test draws
// on: it finds the program's top-level windows and closes them as a window
// manager does.
//
// The program's windows come and go while the test looks at them (a scene
// switch, the program closing), so any request about another client's
// window may fail with BadWindow. Xlib's default handler ends the process
// on such an error; this connection records it instead: each request runs
// between two XSyncs, and a window that went away simply does not match.
// Main thread of the test only.

#include <X11/Xlib.h>

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace testsupport {

class cDisplay {
public:
    // Connects to $DISPLAY; isOpen() says whether that worked.
    cDisplay();
    ~cDisplay();
    cDisplay(const cDisplay&) = delete;
    cDisplay& operator=(const cDisplay&) = delete;

    bool isOpen() const { return mDisplay != nullptr; }
    // The top-level window of the process (0: none), with exactly this
    // title when one is given.
    Window findWindow(pid_t pid, const std::string& title = {});
    // findWindow() until a window is there or the time runs out (0).
    Window waitForWindow(pid_t pid, const std::string& title, int timeoutMs);
    // Any top-level window with exactly this title, whichever process owns
    // it (a message box belongs to a helper process).
    Window findWindowByTitle(const std::string& title);
    // The window's title (_NET_WM_NAME, else WM_NAME); empty when it has
    // none or is gone.
    std::string title(Window window);
    // What a window manager sends when the user closes the window; false
    // when the window is already gone.
    bool close(Window window);

private:
    // A property's items as the server gave them (count items of its
    // format, 32-bit ones as longs).
    struct cProperty {
        std::string bytes;
        unsigned long count;
    };

    template <typename tRequests>
    bool guarded(tRequests requests);
    // The window's property of that type, at most length 32-bit units;
    // nullopt when it has none or the window is gone.
    std::optional<cProperty> property(Window window, const char* name, Atom type, long length);
    long windowPid(Window window);
    std::vector<Window> topLevelWindows();
    static int recordError(Display*, XErrorEvent* error);
    static inline int lastError = 0; // the test's main thread only
    Display* mDisplay;                // owned; null when the connection failed
};

} // namespace testsupport
