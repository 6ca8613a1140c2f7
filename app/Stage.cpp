#include "app/Stage.h"

#include "app/Keys.h"

#include <cstdint>
#include <string>
#include <vector>

#include <clutter/x11/clutter-x11.h>
#include <gst/gst.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include "kestrel/Exception.h"
#include "kestrel/System.h"
#include "kestrel/Unicode.h"
#include "state/Settings.h"

namespace {

// Written once by initializeUi() on the main thread before the main loop
// starts; only read afterwards.
ClutterActor* theStage = nullptr;
sWindowEntry windowTable[WindowTableSize] = {{"main", 0}};

bool fullScreenRequested = false; // main thread only

constexpr int NotStored = -65535;

std::u16string windowKey(const sWindowEntry& entry, const char16_t* suffix)
{
    std::u16string key = u"window_";
    for (const char* c = entry.name; *c != '\0'; ++c) {
        key += static_cast<char16_t>(*c);
    }
    return key + suffix;
}

// Appends one image of the _NET_WM_ICON property: width, height, then one
// ARGB value per pixel. False when the image cannot be read.
bool appendIconImage(const std::string& path, std::vector<unsigned long>& property)
{
    GError* error = nullptr;
    CoglHandle texture = cogl_texture_new_from_file(path.c_str(), COGL_TEXTURE_NO_ATLAS, COGL_PIXEL_FORMAT_ANY, &error);
    if (texture == COGL_INVALID_HANDLE) {
        if (error != nullptr) {
            g_error_free(error);
        }
        return false;
    }
    const unsigned width = cogl_texture_get_width(texture);
    const unsigned height = cogl_texture_get_height(texture);
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 4);
    const int copied = cogl_texture_get_data(texture, COGL_PIXEL_FORMAT_BGRA_8888, width * 4, pixels.data());
    cogl_handle_unref(texture);
    if (width == 0 || height == 0 || copied != static_cast<int>(pixels.size())) {
        return false;
    }
    property.push_back(width);
    property.push_back(height);
    for (size_t i = 0; i < pixels.size(); i += 4) {
        // Bytes blue, green, red, alpha; the property wants 0xAARRGGBB.
        property.push_back((static_cast<unsigned long>(pixels[i + 3]) << 24) |
                           (static_cast<unsigned long>(pixels[i + 2]) << 16) |
                           (static_cast<unsigned long>(pixels[i + 1]) << 8) | pixels[i]);
    }
    return true;
}

// The application icon: the two images beside the executable, large one
// first, as the window's _NET_WM_ICON. A missing image is left out.
void setWindowIcon(Window window)
{
    Display* display = clutter_x11_get_default_display();
    if (display == nullptr || window == None) {
        return;
    }
    std::string folder;
    try {
        folder = kestrel::toUtf8(kestrel::cSystem::getApplicationPath());
    } catch (const kestrel::cException&) {
        return;
    }
    std::vector<unsigned long> property;
    appendIconImage(folder + "icons/lumivex-48.png", property);
    appendIconImage(folder + "icons/lumivex-32.png", property);
    if (property.empty()) {
        return;
    }
    // Format 32 data travels as an array of long, whatever its width.
    const Atom iconAtom = XInternAtom(display, "_NET_WM_ICON", False);
    XChangeProperty(display, window, iconAtom, XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(property.data()), static_cast<int>(property.size()));
    XFlush(display);
}

// The size of the window manager's frame around the window, when one says.
void readFrameExtents(Display* display, Window window, long& left, long& top)
{
    left = 0;
    top = 0;
    const Atom extentsAtom = XInternAtom(display, "_NET_FRAME_EXTENTS", True);
    if (extentsAtom == None) {
        return;
    }
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    // The toolkit's trap keeps an X error (a window going away under us)
    // from ending the process through Xlib's default handler.
    clutter_x11_trap_x_errors();
    const int status = XGetWindowProperty(display, window, extentsAtom, 0, 4, False, XA_CARDINAL, &type, &format,
                                          &count, &remaining, &data);
    const bool failed = clutter_x11_untrap_x_errors() != 0;
    if (!failed && status == Success && data != nullptr && type == XA_CARDINAL && format == 32 && count == 4) {
        const long* extents = reinterpret_cast<const long*>(data);
        left = extents[0];
        top = extents[2];
    }
    if (data != nullptr) {
        XFree(data);
    }
}

// Restores the stored position; the visibility only when asked to.
void restoreGeometry(bool applyVisibility)
{
    cSettings* settings = cSettings::instance();
    Display* display = clutter_x11_get_default_display();
    for (const sWindowEntry& entry : windowTable) {
        if (entry.window == 0 || display == nullptr) {
            continue;
        }
        const int x = settings->getInteger(windowKey(entry, u"_pos_x"), NotStored);
        const int y = settings->getInteger(windowKey(entry, u"_pos_y"), NotStored);
        if (x != NotStored && y != NotStored) {
            // With north-west gravity the window manager puts the outer
            // corner of the frame where asked, which is what was saved.
            XMoveWindow(display, entry.window, x, y);
            XFlush(display);
        }
        if (applyVisibility) {
            // The toolkit maps and withdraws its own window, so that its
            // idea of the stage's visibility stays true.
            if (settings->getBoolean(windowKey(entry, u"_visible"), false)) {
                clutter_actor_show(theStage);
            } else {
                clutter_actor_hide(theStage);
            }
        }
    }
}

} // namespace

bool initializeUi()
{
    // The media framework stands where the component system was brought up
    // for the media graph; its result is not needed here, a player that
    // cannot build its pipeline reports that itself.
    gst_init_check(nullptr, nullptr, nullptr);

    clutter_set_windowing_backend(CLUTTER_WINDOWING_X11);
    if (clutter_init(nullptr, nullptr) != CLUTTER_INIT_SUCCESS) {
        // Without a display there is no stage: go no further than this.
        return false;
    }
    theStage = clutter_stage_get_default();
    clutter_actor_set_size(theStage, 800.0f, 600.0f);
    const ClutterColor black = {0, 0, 0, 255};
    clutter_stage_set_color(CLUTTER_STAGE(theStage), &black);
    clutter_actor_show_all(theStage);
    // Every scene reads keys through app/Keys.h, which follows them here.
    watchKeys(theStage);

    const Window window = clutter_x11_get_stage_window(CLUTTER_STAGE(theStage));
    setWindowIcon(window);
    windowTable[0].window = window;

    // At start-up the settings are not loaded yet, so they hold no window
    // keys: a stored visibility (false by default) must not hide the stage
    // the first scene is about to appear on. Only a position is applied.
    restoreGeometry(false);
    return true;
}

void presentStage()
{
    if (theStage == nullptr) {
        return;
    }
    Display* display = clutter_x11_get_default_display();
    const Window window = clutter_x11_get_stage_window(CLUTTER_STAGE(theStage));
    // Mapped and on top, and, where a window manager runs, activated: it
    // honours a request marked as coming from a pager (source 2) even when
    // it would refuse to let a program steal the focus.
    XMapRaised(display, window);
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = 2;
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, DefaultRootWindow(display), False, SubstructureRedirectMask | SubstructureNotifyMask,
               &event);
    XFlush(display);
}

ClutterActor* stageActor()
{
    return theStage;
}

ClutterStage* stage()
{
    return theStage != nullptr ? CLUTTER_STAGE(theStage) : nullptr;
}

const sWindowEntry& windowTableEntry(int index)
{
    return windowTable[index >= 0 && index < WindowTableSize ? index : 0];
}

bool readWindowPlacement(unsigned long window, int& x, int& y, bool& visible)
{
    Display* display = clutter_x11_get_default_display();
    if (display == nullptr || window == 0) {
        return false;
    }
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display, window, &attributes) == 0) {
        return false;
    }
    Window child = None;
    int rootX = 0;
    int rootY = 0;
    XTranslateCoordinates(display, window, attributes.root, 0, 0, &rootX, &rootY, &child);
    long left = 0;
    long top = 0;
    readFrameExtents(display, window, left, top);
    x = rootX - static_cast<int>(left);
    y = rootY - static_cast<int>(top);
    visible = attributes.map_state == IsViewable;
    return true;
}

void saveWindowGeometry()
{
    cSettings* settings = cSettings::instance();
    for (const sWindowEntry& entry : windowTable) {
        int x = 0;
        int y = 0;
        bool visible = false;
        if (!readWindowPlacement(entry.window, x, y, visible)) {
            continue;
        }
        float width = 0.0f;
        float height = 0.0f;
        clutter_actor_get_size(theStage, &width, &height);
        settings->setInteger(windowKey(entry, u"_pos_x"), x);
        settings->setInteger(windowKey(entry, u"_pos_y"), y);
        settings->setInteger(windowKey(entry, u"_size_x"), static_cast<int32_t>(width));
        settings->setInteger(windowKey(entry, u"_size_y"), static_cast<int32_t>(height));
        settings->setBoolean(windowKey(entry, u"_maxi"), false);
        settings->setBoolean(windowKey(entry, u"_visible"), visible);
    }
}

void restoreWindowGeometry()
{
    restoreGeometry(true);
}

void setStageFullScreen(bool fullScreen)
{
    fullScreenRequested = fullScreen;
    if (theStage != nullptr) {
        clutter_stage_set_fullscreen(CLUTTER_STAGE(theStage), fullScreen ? TRUE : FALSE);
    }
}

bool stageFullScreenRequested()
{
    return fullScreenRequested;
}

void redrawStage()
{
    if (theStage != nullptr) {
        clutter_redraw(CLUTTER_STAGE(theStage));
    }
}
