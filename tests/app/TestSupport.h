#pragma once
// Shared pieces of the application shell's tests: a private home folder,
// the toolkit brought up once per test program, and driving the main loop
// by hand.

#include <functional>
#include <string>

// A fresh folder under the system's temporary folder.
std::string makeTempFolder();

// Points HOME and the cache folder at a fresh temporary folder, so that
// nothing a test starts (the media framework's registry, the data folder)
// touches the real home. Once per program, before the toolkit starts.
void usePrivateHome();

// Brings up the stage once per test program (initializeUi()); false
// without a display. A test that needs the stage fails then, with
// uiFailure() as its reason: a missing display is a broken test run, never
// a reason to skip.
bool ensureUi();
// Why ensureUi() failed.
std::string uiFailure();

// Iterates the main loop until condition() holds or the time runs out;
// returns the final value of condition().
bool runMainLoopUntil(const std::function<bool()>& condition, int timeoutMilliseconds);
// Iterates the main loop for the given time.
void runMainLoopFor(int milliseconds);

// Milliseconds of a monotonic clock.
double nowMilliseconds();

// The stage's pixels (RGBA, top row first) as drawn by the next paint.
struct sScreenshot {
    int width = 0;
    int height = 0;
    std::string pixels;
    // Red, green, blue of one pixel.
    void at(int x, int y, int& red, int& green, int& blue) const;
    // Writes a binary PPM file.
    bool writePpm(const std::string& path) const;
};
sScreenshot takeScreenshot();
