// The stage window on a real X server: size, colour, icon, and the window
// geometry kept in the settings.

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "app/Stage.h"
#include "state/Settings.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <clutter/x11/clutter-x11.h>

namespace {

class StageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(ensureUi()) << uiFailure();
        cSettings::instance()->reset();
        clutter_actor_show(stageActor());
        runMainLoopFor(50);
    }

    void TearDown() override
    {
        cSettings::instance()->reset();
        clutter_actor_show(stageActor());
    }

    static unsigned long window() { return windowTableEntry(0).window; }

    // Puts the window somewhere known, as the user would by dragging it.
    static void placeWindow(int x, int y)
    {
        Display* display = clutter_x11_get_default_display();
        XMoveWindow(display, window(), x, y);
        XSync(display, False);
    }

    static void placement(int& x, int& y, bool& visible)
    {
        XSync(clutter_x11_get_default_display(), False);
        ASSERT_TRUE(readWindowPlacement(window(), x, y, visible));
    }
};

TEST_F(StageTest, StageIsABlack800By600WindowNamedMainWithTheIcon)
{
    EXPECT_STREQ(windowTableEntry(0).name, "main");
    ASSERT_NE(window(), 0u);
    EXPECT_EQ(clutter_actor_get_width(stageActor()), 800.0f);
    EXPECT_EQ(clutter_actor_get_height(stageActor()), 600.0f);
    ClutterColor colour = {};
    clutter_stage_get_color(stage(), &colour);
    EXPECT_EQ(colour.red, 0);
    EXPECT_EQ(colour.green, 0);
    EXPECT_EQ(colour.blue, 0);
    EXPECT_EQ(colour.alpha, 255);

    Display* display = clutter_x11_get_default_display();
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    ASSERT_EQ(XGetWindowProperty(display, window(), XInternAtom(display, "_NET_WM_ICON", False), 0, 1L << 20, False,
                                 XA_CARDINAL, &type, &format, &count, &remaining, &data),
              Success);
    ASSERT_NE(data, nullptr);
    const long* values = reinterpret_cast<const long*>(data);
    ASSERT_EQ(count, 2u + 48 * 48 + 2u + 32 * 32);
    EXPECT_EQ(values[0], 48);
    EXPECT_EQ(values[1], 48);
    EXPECT_EQ(values[2 + 48 * 48], 32);
    EXPECT_EQ(values[3 + 48 * 48], 32);
    // The middle of the large icon is opaque.
    EXPECT_EQ((static_cast<unsigned long>(values[2 + 24 * 48 + 24]) >> 24) & 0xFF, 0xFFu);
    XFree(data);
}

TEST_F(StageTest, RestoreWithoutStoredPositionLeavesTheWindowInPlace)
{
    struct {
        const char* name;
        bool storeX;
        bool storeY;
    } cases[] = {{"nothing stored", false, false}, {"only x stored", true, false}, {"only y stored", false, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        cSettings::instance()->reset();
        placeWindow(40, 30);
        if (c.storeX) {
            cSettings::instance()->setInteger(u"window_main_pos_x", 300);
        }
        if (c.storeY) {
            cSettings::instance()->setInteger(u"window_main_pos_y", 200);
        }
        restoreWindowGeometry();
        int x = 0;
        int y = 0;
        bool visible = true;
        placement(x, y, visible);
        EXPECT_EQ(x, 40);
        EXPECT_EQ(y, 30);
        // Nothing stored about visibility: the window is hidden.
        EXPECT_FALSE(visible);
        clutter_actor_show(stageActor());
    }
}

TEST_F(StageTest, SaveThenRestoreBringsTheWindowBack)
{
    placeWindow(120, 80);
    saveWindowGeometry();
    cSettings* settings = cSettings::instance();
    EXPECT_EQ(settings->getInteger(u"window_main_pos_x", -65535), 120);
    EXPECT_EQ(settings->getInteger(u"window_main_pos_y", -65535), 80);
    EXPECT_EQ(settings->getInteger(u"window_main_size_x", -65535), 800);
    EXPECT_EQ(settings->getInteger(u"window_main_size_y", -65535), 600);
    EXPECT_EQ(settings->getString(u"window_main_maxi", u"absent"), u"false");
    EXPECT_EQ(settings->getString(u"window_main_visible", u"absent"), u"true");

    placeWindow(300, 250);
    clutter_actor_hide(stageActor());
    restoreWindowGeometry();
    int x = 0;
    int y = 0;
    bool visible = false;
    placement(x, y, visible);
    EXPECT_EQ(x, 120);
    EXPECT_EQ(y, 80);
    EXPECT_TRUE(visible);
}

TEST_F(StageTest, RedrawStageRepaintsSoon)
{
    int paints = 0;
    const gulong handler =
        g_signal_connect_swapped(stage(), "after-paint", G_CALLBACK(+[](int* count) { ++*count; }), &paints);
    runMainLoopFor(100);
    paints = 0;
    redrawStage();
    EXPECT_TRUE(runMainLoopUntil([&] { return paints > 0; }, 1000));
    g_signal_handler_disconnect(stage(), handler);
}

} // namespace
