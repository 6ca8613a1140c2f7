#include "SceneDriver.h"

#include <X11/Xlib.h>
#include <clutter/x11/clutter-x11.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <utility>

#include "app/Effects.h"
#include "app/MainLoop.h"
#include "app/Stage.h"
#include "kestrel/Unicode.h"
#include "state/Recent.h"
#include "state/Settings.h"

void parkPointer()
{
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return;
    }
    // The stage's window follows a size change of the stage only once the
    // server has carried it out. A pointer parked in the corner of a window
    // still at full-screen size would land inside it and its motion would
    // reach the next test, so wait for the window to have the stage's size
    // first.
    const Window window = clutter_x11_get_stage_window(stage());
    float width = 0;
    float height = 0;
    clutter_actor_get_size(stageActor(), &width, &height);
    runMainLoopUntil([&] {
        XWindowAttributes attributes{};
        return window != 0 && XGetWindowAttributes(display, window, &attributes) != 0 &&
               attributes.width == static_cast<int>(width) && attributes.height == static_cast<int>(height);
    }, 3000);
    // A corner of the screen that the window does not cover: a test may
    // have moved the window anywhere (the full-screen road saves and
    // restores its place).
    const int screen = DefaultScreen(display);
    const Window root = RootWindow(display, screen);
    int left = 0;
    int top = 0;
    Window child = 0;
    if (window != 0) {
        XTranslateCoordinates(display, window, root, 0, 0, &left, &top, &child);
    }
    const int right = DisplayWidth(display, screen) - 1;
    const int bottom = DisplayHeight(display, screen) - 1;
    int parkX = right;
    int parkY = bottom;
    for (const auto& [x, y] : {std::pair{right, bottom}, std::pair{0, bottom}, std::pair{right, 0}, std::pair{0, 0}}) {
        const bool inside = x >= left && x < left + static_cast<int>(width) && y >= top &&
                            y < top + static_cast<int>(height);
        if (!inside) {
            parkX = x;
            parkY = y;
            break;
        }
    }
    XWarpPointer(display, None, root, 0, 0, 0, 0, parkX, parkY);
    XSync(display, False);
    XCloseDisplay(display);
    // Whatever the move sent is dispatched now, before the test starts.
    runMainLoopFor(50);
    settle();
}

namespace {

void put(ClutterEvent* event)
{
    clutter_event_set_stage(event, stage());
    // The time of the event, as the X server gives it: the toolkit counts
    // the presses of a double click by it, so that two clicks far apart in
    // time are two single clicks.
    clutter_event_set_time(event, static_cast<guint32>(g_get_monotonic_time() / 1000));
    clutter_event_put(event);
    clutter_event_free(event);
}

} // namespace

void clickAt(float x, float y)
{
    ClutterEvent* event = clutter_event_new(CLUTTER_BUTTON_PRESS);
    clutter_event_set_coords(event, x, y);
    clutter_event_set_button(event, 1);
    put(event);
    event = clutter_event_new(CLUTTER_BUTTON_RELEASE);
    clutter_event_set_coords(event, x, y);
    clutter_event_set_button(event, 1);
    put(event);
}

void scrollAt(float x, float y, ClutterScrollDirection direction)
{
    ClutterEvent* event = clutter_event_new(CLUTTER_SCROLL);
    clutter_event_set_coords(event, x, y);
    clutter_event_set_scroll_direction(event, direction);
    put(event);
}

void crossActor(ClutterActor* actor, bool enter)
{
    ClutterEvent* event = clutter_event_new(enter ? CLUTTER_ENTER : CLUTTER_LEAVE);
    clutter_event_set_source(event, actor);
    clutter_event_set_related(event, stageActor());
    put(event);
}

void typeKey(guint keyval)
{
    for (ClutterEventType type : {CLUTTER_KEY_PRESS, CLUTTER_KEY_RELEASE}) {
        ClutterEvent* event = clutter_event_new(type);
        clutter_event_set_key_symbol(event, keyval);
        put(event);
    }
}

void pressKey(guint keyval)
{
    ClutterEvent* event = clutter_event_new(CLUTTER_KEY_PRESS);
    clutter_event_set_key_symbol(event, keyval);
    put(event);
}

void releaseKey(guint keyval)
{
    ClutterEvent* event = clutter_event_new(CLUTTER_KEY_RELEASE);
    clutter_event_set_key_symbol(event, keyval);
    put(event);
}

void doubleClickAt(float x, float y)
{
    for (int click = 1; click <= 2; ++click) {
        for (ClutterEventType type : {CLUTTER_BUTTON_PRESS, CLUTTER_BUTTON_RELEASE}) {
            ClutterEvent* event = clutter_event_new(type);
            clutter_event_set_coords(event, x, y);
            clutter_event_set_button(event, 1);
            event->button.click_count = click;
            put(event);
        }
    }
}

void countPaint(ClutterStage*, gpointer paints)
{
    ++*static_cast<int*>(paints);
}

void settle()
{
    runMainLoopUntil([] { return clutter_events_pending() == FALSE; }, 2000);
    // The stage takes the events on its next frame, before it paints.
    int paints = 0;
    const gulong handler = g_signal_connect(stage(), "after-paint", G_CALLBACK(countPaint), &paints);
    clutter_actor_queue_redraw(stageActor());
    runMainLoopUntil([&] { return paints >= 1; }, 2000);
    g_signal_handler_disconnect(stage(), handler);
    // The requests the handlers made are idle callbacks of the scene
    // switch's priority; a marker posted now runs after them.
    auto marker = std::make_shared<bool>(false);
    postToMainLoop(PrioritySceneSwitch, [marker] { *marker = true; });
    runMainLoopUntil([marker] { return *marker; }, 2000);
}

bool waitForEffectsToEnd(int timeoutMilliseconds)
{
    return runMainLoopUntil([] { return runningEffectCount() == 0; }, timeoutMilliseconds);
}

std::vector<uint8_t> makePicture(int width, int height, sRgb upper, sRgb lower)
{
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 3);
    for (int row = 0; row < height; ++row) {
        // Row 0 is the bottom row of the picture.
        const sRgb colour = row < height / 2 ? lower : upper;
        for (int column = 0; column < width; ++column) {
            uint8_t* pixel = &pixels[(static_cast<size_t>(row) * width + column) * 3];
            pixel[0] = static_cast<uint8_t>(colour.blue);
            pixel[1] = static_cast<uint8_t>(colour.green);
            pixel[2] = static_cast<uint8_t>(colour.red);
        }
    }
    return pixels;
}

cUserData::cUserData()
{
    cSettings::instance()->reset();
    cSettings::instance()->setDataFolder(widePath() + u"/");
    cRecent::destroyInstance();
}

cUserData::~cUserData()
{
    cRecent::destroyInstance();
    cSettings::instance()->reset();
}

std::u16string cUserData::widePath() const
{
    return kestrel::fromUtf8(mFolder.path());
}

void cUserData::writeRecent(const std::vector<sChannel>& channels)
{
    cRecent* recent = cRecent::instance();
    for (const sChannel& channel : channels) {
        recent->add(kestrel::fromUtf8(channel.country), kestrel::fromUtf8(channel.name),
                    kestrel::fromUtf8(channel.type));
        if (!channel.picture.empty()) {
            recent->savePicture(channel.picture.data(), channel.width, channel.height);
        }
    }
    recent->save(widePath() + u"/");
    cRecent::destroyInstance();
    cRecent::instance()->load(widePath() + u"/");
}

sRegion regionOf(const sScreenshot& shot, int x0, int y0, int x1, int y1)
{
    sRegion region;
    for (int y = std::max(0, y0); y < std::min(shot.height, y1); ++y) {
        for (int x = std::max(0, x0); x < std::min(shot.width, x1); ++x) {
            int red = 0, green = 0, blue = 0;
            shot.at(x, y, red, green, blue);
            region.red += red;
            region.green += green;
            region.blue += blue;
            if (red > 200 && green > 200 && blue > 200) {
                ++region.bright;
            }
            if (blue > 180 && blue - red > 60) {
                ++region.vivid;
            }
            ++region.pixels;
        }
    }
    if (region.pixels > 0) {
        region.red /= region.pixels;
        region.green /= region.pixels;
        region.blue /= region.pixels;
    }
    return region;
}

void keepScreenshot(const sScreenshot& shot, const std::string& name)
{
    std::error_code ignored;
    std::filesystem::create_directories(LUMIVEX_SCREENSHOT_DIR, ignored);
    shot.writePpm(std::string(LUMIVEX_SCREENSHOT_DIR) + "/" + name + ".ppm");
}

sScreenshot windowPixels()
{
    sScreenshot shot;
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return shot;
    }
    const Window window = clutter_x11_get_stage_window(stage());
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display, window, &attributes) && attributes.map_state == IsViewable) {
        XImage* image =
            XGetImage(display, window, 0, 0, attributes.width, attributes.height, AllPlanes, ZPixmap);
        if (image != nullptr) {
            shot.width = attributes.width;
            shot.height = attributes.height;
            shot.pixels.resize(static_cast<size_t>(shot.width) * shot.height * 4);
            for (int y = 0; y < shot.height; ++y) {
                for (int x = 0; x < shot.width; ++x) {
                    const unsigned long pixel = XGetPixel(image, x, y);
                    char* out = &shot.pixels[(static_cast<size_t>(y) * shot.width + x) * 4];
                    out[0] = static_cast<char>((pixel & image->red_mask) >> 16);
                    out[1] = static_cast<char>((pixel & image->green_mask) >> 8);
                    out[2] = static_cast<char>(pixel & image->blue_mask);
                    out[3] = static_cast<char>(255);
                }
            }
            XDestroyImage(image);
        }
    }
    XCloseDisplay(display);
    return shot;
}
