#include "WidgetTestSupport.h"

#include <clutter/x11/clutter-x11.h>
#include <gdk-pixbuf/gdk-pixbuf.h>

#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "app/Effects.h"
#include "app/Stage.h"
#include "tests/app/TestSupport.h"

const sSkinImage TestSkinImages[] = {
    {"list-bg.png", 16, 16, 0, 0, 255},
    {"list-selection.png", 16, 20, 200, 200, 0},
    {"list-scroll-up.png", 40, 12, 0, 255, 0},
    {"list-scroll-down.png", 40, 14, 0, 255, 0},
    {"scaler-bg.png", 16, 16, 255, 0, 0},
    {"scaler-slider.png", 12, 24, 0, 255, 0},
    {"volume-button.png", 32, 32, 255, 0, 255},
    {"volume-bg.png", 32, 32, 255, 255, 0},
};

const sSkinImage& testSkinImage(const char* name)
{
    for (const sSkinImage& image : TestSkinImages) {
        if (std::strcmp(image.name, name) == 0) {
            return image;
        }
    }
    throw std::invalid_argument(name);
}

cTestSkin::cTestSkin(bool withImages)
{
    const std::string skin = mFolder.file("skin");
    std::filesystem::create_directory(skin);
    if (!withImages) {
        return;
    }
    for (const sSkinImage& image : TestSkinImages) {
        GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, image.width, image.height);
        const int stride = gdk_pixbuf_get_rowstride(pixbuf);
        guchar* pixels = gdk_pixbuf_get_pixels(pixbuf);
        // The dial is a frame two pixels wide around a transparent middle,
        // so the knob shows through it.
        const bool frame = std::strcmp(image.name, "volume-bg.png") == 0;
        for (int y = 0; y < image.height; ++y) {
            for (int x = 0; x < image.width; ++x) {
                guchar* pixel = pixels + y * stride + x * 4;
                const bool border = x < 2 || y < 2 || x >= image.width - 2 || y >= image.height - 2;
                pixel[0] = image.red;
                pixel[1] = image.green;
                pixel[2] = image.blue;
                pixel[3] = (!frame || border) ? 255 : 0;
            }
        }
        const std::string path = skin + "/" + image.name;
        GError* error = nullptr;
        if (!gdk_pixbuf_save(pixbuf, path.c_str(), "png", &error, nullptr)) {
            const std::string message = error != nullptr ? error->message : "unknown error";
            g_clear_error(&error);
            g_object_unref(pixbuf);
            throw std::runtime_error("cannot write " + path + ": " + message);
        }
        g_object_unref(pixbuf);
    }
}

cTestScene::cTestScene(const cTestSkin& skin) : cScene(stageActor()), mFolder(skin.folder()) {}

const char* cTestScene::skinPath(const char* fileName, const char* folder)
{
    mPath = mFolder + "/" + folder + "/" + fileName;
    return mPath.c_str();
}

void parkPointerOutsideStage()
{
    Display* display = clutter_x11_get_default_display();
    XWarpPointer(display, None, DefaultRootWindow(display), 0, 0, 0, 0, DisplayWidth(display, 0) - 1,
                 DisplayHeight(display, 0) - 1);
    XSync(display, False);
}

namespace {

int handledEvents = 0;  // synthetic events the stage saw first (capture)
int reachingStage = 0;  // synthetic events that bubbled up to the stage
guint32 eventTime = 1000;

bool isOurs(const ClutterEvent* event)
{
    return (clutter_event_get_flags(event) & CLUTTER_EVENT_FLAG_SYNTHETIC) != 0;
}

gboolean onCaptured(ClutterActor*, ClutterEvent* event, gpointer)
{
    if (isOurs(event)) {
        ++handledEvents;
    }
    return CLUTTER_EVENT_PROPAGATE;
}

gboolean onStageEvent(ClutterActor*, ClutterEvent* event, gpointer)
{
    if (isOurs(event)) {
        ++reachingStage;
    }
    return CLUTTER_EVENT_PROPAGATE;
}

void watchStage()
{
    static bool connected = false;
    if (!connected) {
        g_signal_connect(stageActor(), "captured-event", G_CALLBACK(onCaptured), nullptr);
        g_signal_connect(stageActor(), "event", G_CALLBACK(onStageEvent), nullptr);
        connected = true;
    }
}

ClutterEvent* newEvent(ClutterEventType type, ClutterActor* source)
{
    ClutterEvent* event = clutter_event_new(type);
    clutter_event_set_stage(event, stage());
    clutter_event_set_source(event, source);
    clutter_event_set_flags(event, CLUTTER_EVENT_FLAG_SYNTHETIC);
    clutter_event_set_time(event, ++eventTime);
    ClutterDeviceManager* manager = clutter_device_manager_get_default();
    clutter_event_set_device(event, clutter_device_manager_get_core_device(manager, CLUTTER_POINTER_DEVICE));
    return event;
}

void placeEvent(ClutterEvent* event, ClutterActor* source)
{
    float x = 0.0f;
    float y = 0.0f;
    if (source != nullptr) {
        clutter_actor_get_transformed_position(source, &x, &y);
    }
    clutter_event_set_coords(event, x + 1.0f, y + 1.0f);
}

} // namespace

ClutterEvent* buttonEvent(ClutterEventType type, ClutterActor* source, float x, float y)
{
    ClutterEvent* event = newEvent(type, source);
    clutter_event_set_coords(event, x, y);
    clutter_event_set_button(event, 1);
    return event;
}

ClutterEvent* motionEvent(ClutterActor* source, float x, float y)
{
    ClutterEvent* event = newEvent(CLUTTER_MOTION, source);
    clutter_event_set_coords(event, x, y);
    return event;
}

ClutterEvent* scrollEvent(ClutterActor* source, ClutterScrollDirection direction)
{
    ClutterEvent* event = newEvent(CLUTTER_SCROLL, source);
    placeEvent(event, source);
    clutter_event_set_scroll_direction(event, direction);
    return event;
}

ClutterEvent* crossingEvent(ClutterEventType type, ClutterActor* source)
{
    ClutterEvent* event = newEvent(type, source);
    placeEvent(event, source);
    clutter_event_set_related(event, nullptr);
    return event;
}

bool deliver(std::initializer_list<ClutterEvent*> events)
{
    watchStage();
    const int target = handledEvents + static_cast<int>(events.size());
    for (ClutterEvent* event : events) {
        clutter_do_event(event); // queues a copy on the stage
        clutter_event_free(event);
    }
    return runMainLoopUntil([&] { return handledEvents >= target; }, 5000);
}

int eventsReachingStage()
{
    watchStage();
    return reachingStage;
}

namespace {

void countPaint(ClutterStage*, gpointer paints)
{
    ++*static_cast<int*>(paints);
}

} // namespace

ClutterActor* actorAt(float x, float y)
{
    // The stage answers from the picture of its last paint: let it paint
    // what changed since.
    int paints = 0;
    const gulong handler = g_signal_connect(stage(), "after-paint", G_CALLBACK(countPaint), &paints);
    clutter_actor_queue_redraw(stageActor());
    runMainLoopUntil([&] { return paints > 0; }, 5000);
    g_signal_handler_disconnect(stage(), handler);
    return clutter_stage_get_actor_at_pos(stage(), CLUTTER_PICK_REACTIVE, static_cast<gint>(x), static_cast<gint>(y));
}

namespace {

ClutterActor* findLabelBelow(ClutterActor* actor, const char* text)
{
    if (CLUTTER_IS_TEXT(actor) && std::strcmp(clutter_text_get_text(CLUTTER_TEXT(actor)), text) == 0) {
        return actor;
    }
    for (ClutterActor* child = clutter_actor_get_first_child(actor); child != nullptr;
         child = clutter_actor_get_next_sibling(child)) {
        if (ClutterActor* found = findLabelBelow(child, text)) {
            return found;
        }
    }
    return nullptr;
}

} // namespace

ClutterActor* findLabel(const char* text)
{
    return findLabelBelow(stageActor(), text);
}

bool waitForEffects()
{
    return runMainLoopUntil([] { return runningEffectCount() == 0; }, 5000);
}
