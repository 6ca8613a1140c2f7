#pragma once
// Driving the scenes as a user would, through the toolkit's own event
// path: synthesized pointer, wheel and key events are queued on the stage
// and picked and dispatched by the toolkit on the main loop. Also the real
// user files of a temporary data folder, and checks on screenshots.

#include <string>
#include <vector>

#include "../app/TestSupport.h"
#include "app/Toolkit.h"
#include "tests/support/TempFolder.h"

// Moves the X pointer off the stage, so that the real pointer never
// crosses the actors the tests drive.
void parkPointer();

// A press of the first button at stage coordinates; the toolkit picks the
// actor under it.
void clickAt(float x, float y);
// One wheel step at stage coordinates.
void scrollAt(float x, float y, ClutterScrollDirection direction);
// The pointer entering or leaving the actor.
void crossActor(ClutterActor* actor, bool enter);
// A key pressed and released on the stage.
void typeKey(guint keyval);
// A key pressed, or released, alone: pressing a key again before its
// release is how the desktop repeats a key held down.
void pressKey(guint keyval);
void releaseKey(guint keyval);
// Two presses and releases of the first button, the second counted as the
// second click of a double click.
void doubleClickAt(float x, float y);
// Runs the main loop until every queued event has been dispatched and the
// idle callbacks it caused have run.
void settle();

// Runs the main loop until no effect is running any more (the scenes that
// hide delete themselves then).
bool waitForEffectsToEnd(int timeoutMilliseconds = 5000);

// A picture of the recent list: width x height, blue-green-red, bottom row
// first; the upper half (as seen) is one colour, the lower half another.
struct sRgb {
    int red, green, blue;
};
std::vector<uint8_t> makePicture(int width, int height, sRgb upper, sRgb lower);

// The user's files in a fresh data folder: the settings point at it, and
// the recent list is written to recent.xml (with picture files) and read
// back as the program reads it at start-up.
class cUserData {
public:
    cUserData();
    ~cUserData();
    struct sChannel {
        std::string country, name, type;
        std::vector<uint8_t> picture; // empty: no picture stored
        int width = 0, height = 0;
    };
    // Channels in the order they were watched: the last one is entry 0.
    void writeRecent(const std::vector<sChannel>& channels);
    const std::string& path() const { return mFolder.path(); }
    std::u16string widePath() const;

private:
    testsupport::cTempFolder mFolder{"scenes"};
};

// Colour statistics of a rectangle of a screenshot.
struct sRegion {
    double red = 0, green = 0, blue = 0; // means
    int bright = 0;                      // pixels with every channel above 200
    int vivid = 0;                       // strong blue or violet pixels (the skin's accent)
    int pixels = 0;
};
sRegion regionOf(const sScreenshot& shot, int x0, int y0, int x1, int y1);

// The stage window's pixels as the X server shows them now (24-bit
// TrueColor visual), read without asking the stage for any redraw: what
// the user sees after the toolkit's own partial redraws.
sScreenshot windowPixels();

// Writes the screenshot as a PPM file into the test's screenshot folder.
void keepScreenshot(const sScreenshot& shot, const std::string& name);
