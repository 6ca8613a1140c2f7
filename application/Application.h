#pragma once
// The application object, start-up, the main loop and shutdown.
//
// Start-up: the per-user data folder, the toolkit and the stage, then an
// initialisation thread that loads the user's state while the stage is
// already on screen and ends by asking for the first scene. The main thread
// runs the toolkit's main loop until the stage window is closed (or a
// failure ends it), then tears everything down in a fixed order and writes
// the user's state back.

#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "guide/GuideSchedule.h"
#include "kestrel/Application.h"
#include "kestrel/InstanceLock.h"

// True once the application is shutting down; long waits give up then.
// False when there is no application object (as in the tests of other
// libraries). Any thread. The same as kestrel::applicationIsTerminating().
bool isApplicationTerminating();

class cLumivexApplication : public kestrel::cApplication {
public:
    cLumivexApplication() = default;
    ~cLumivexApplication() override;

    // Start-up, main loop, shutdown. Returns 1 after a normal shutdown;
    // leaves by an exception when start-up fails before the main loop.
    int run(int32_t first, int32_t second) override;

private:
    void initializationThread();
    // Starts the guide's schedule on the guides the user gave and those the
    // lists name (nothing without any).
    void startGuide(const std::u16string& channelFolder);
    void shutdown();

    std::thread mInitializationThread; // main thread only
    // Started by the initialisation thread, stopped by shutdown after that
    // thread has been joined.
    cGuideSchedule mGuideSchedule;
    // The data folder's lock, held from start-up to the end of the
    // process; its listener runs from start-up to the start of shutdown.
    kestrel::cInstanceLock mInstanceLock; // main thread only
};

// The per-user data folder, ending in '/'. Empty until run() sets it on the
// main thread before the initialisation thread starts; only read after.
extern std::u16string dataFolderPath;

// The entry point's work: reads the command line (see CommandLine.h; the
// options that print, and refusals, end here with their status), runs the
// application object and turns the outcome into the process exit status:
// 0 after a normal shutdown, 1 after a failure that showed a message box,
// -1 when there is no application object.
int lumivexMain(int argc, const char* const* argv);

namespace apptesting {
// Test-only observation of start-up and shutdown: called with one short
// line per step, in order ("create folder <path>", "ui", "load settings",
// ..., "save recent"). Installed before lumivexMain(); nothing is traced
// without it.
void setStepTrace(std::function<void(const std::string& step)> trace);
// Test-only: runs on the initialisation thread after the user's state has
// been loaded, where opening the channel database belongs; an exception it
// throws takes the failure path of the initialisation thread.
void setInitializationProbe(std::function<void()> probe);
} // namespace apptesting
