#pragma once
// The end-to-end harness: the installed program driven from outside, as a
// user drives it. Pointer clicks and the wheel go through the X server's
// test extension (xdotool), the window title tells which scene is up,
// screenshots (ImageMagick's import) show what is on the screen, and the
// files in the temporary home show what was kept.
//
// Every process the harness starts dies with the test (PR_SET_PDEATHSIG in
// the child, its own process group killed on destruction); every wait has a
// time-out and waits for a condition, never for a fixed time.
//
// A road is written one step a line:
//
//     ASSERT_TRUE(player.waitForTitle("Recent channels..."));
//     ASSERT_TRUE(player.click(120, 528));
//     ASSERT_TRUE(player.waitForRegion("continue", {330, 510, 140, 36}, {95, 105, 235}, 60));
//     ASSERT_TRUE(player.shot("home").near({40, 510, 160, 36}, {40, 45, 70}, 40));

// Google Test before Xlib: Xlib's macros (None, Bool) break its headers.
#include <gtest/gtest.h>

#include "tests/support/Processes.h"
#include "tests/support/XWindows.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace e2e {

using testsupport::cCommandResult;
using testsupport::cDisplay;
using testsupport::cProcess;
using testsupport::fileExists;
using testsupport::makeTempFolder;
using testsupport::readFile;
using testsupport::refusedAddress;
using testsupport::runCommand;
using testsupport::tEnvironment;
using testsupport::utf16File;

struct cRect {
    int x, y, width, height;
};
struct cColour {
    int r, g, b;
};

// A screenshot: 24-bit pixels read from a binary PPM.
class cImage {
public:
    bool load(const std::string& ppmPath);
    int width() const { return mWidth; }
    int height() const { return mHeight; }
    cColour pixel(int x, int y) const;
    // The mean colour of the rectangle (clipped to the image).
    cColour mean(const cRect& rect) const;
    // The share of pixels (0 to 1) within tolerance of the colour in each
    // channel.
    double shareNear(const cRect& rect, cColour colour, int tolerance) const;
    // The share of pixels that differ by more than the tolerance in some
    // channel between this image and the other one.
    double shareDiffering(const cImage& other, const cRect& rect, int tolerance) const;
    // The rectangle's mean colour is within tolerance of the colour in
    // each channel; the message gives the mean found.
    ::testing::AssertionResult near(const cRect& rect, cColour colour, int tolerance) const;
    std::string name; // the file it was read from

private:
    int mWidth = 0;
    int mHeight = 0;
    std::vector<uint8_t> mPixels; // rows top first, r g b
};

// The program installed with `cmake --install` into a temporary prefix,
// once for the test binary.
class cInstallation {
public:
    // Installs the build tree given at compile time; prefix() stays empty
    // after a failure, which error() describes.
    static cInstallation& instance();
    const std::string& prefix() const { return mPrefix; }
    const std::string& error() const { return mError; }
    std::string player() const { return mPrefix + "/bin/lumivex"; }
    std::string catalogueTool() const { return mPrefix + "/bin/lumivex-catalogue"; }
    std::string serverTool() const { return mPrefix + "/bin/lumivex-server"; }
    ~cInstallation();

private:
    cInstallation();
    std::string mPrefix;
    std::string mFolder;
    std::string mError;
};

// One channel of a test catalogue. A clip colour makes a short clip of
// that colour (with a moving white square and a tone) served as
// <file>; without one, the address is taken as it is.
struct cChannel {
    std::string country, type, name, description;
    std::string file;       // served by the catalogue server: its address is filled in
    std::string address;    // used as it is when file is empty
    std::string clipColour; // ffmpeg colour name; empty: no clip made
};

// The installed lumivex-server on a free port, serving a catalogue built
// with the installed lumivex-catalogue.
class cCatalogueServer {
public:
    cCatalogueServer(const std::string& folder, const std::vector<cChannel>& channels, int version);
    bool ready() const { return mReady; }
    const std::string& problem() const { return mProblem; }
    // "host:port", as the `server` setting takes it.
    const std::string& address() const { return mAddress; }
    std::string database() const { return mFolder + "/database"; }

private:
    std::string mFolder;
    std::string mAddress;
    std::string mProblem;
    std::optional<cProcess> mServer;
    bool mReady = false;
};

// A catalogue server that announces a newer catalogue and then sends its
// body a byte at a time, slower than anyone waits for: a download that is
// still running when the user closes the window.
class cStallingServer {
public:
    explicit cStallingServer(int version);
    ~cStallingServer();
    bool ready() const { return mListener >= 0; }
    std::string address() const { return "127.0.0.1:" + std::to_string(mPort); }
    // Bytes of the catalogue body sent so far.
    long bodyBytesSent() const { return mBodyBytes.load(); }

private:
    void serve();
    void answer(int connection);
    int mListener = -1;
    int mPort = 0;
    int mVersion;
    std::atomic<bool> mStop{false};
    std::atomic<long> mBodyBytes{0};
    std::thread mThread;
};

// A loopback address that takes connections and never answers them: the
// listening socket is never accepted from, so a request waits there for
// its own time-outs, as with a server that hangs.
class cSilentServer {
public:
    cSilentServer();
    ~cSilentServer();
    cSilentServer(const cSilentServer&) = delete;
    cSilentServer& operator=(const cSilentServer&) = delete;
    bool ready() const { return mListener >= 0; }
    // "127.0.0.1:port"
    std::string address() const { return "127.0.0.1:" + std::to_string(mPort); }

private:
    int mListener = -1;
    int mPort = 0;
};

// The installed player in a temporary home, and the user's hands on it.
class cPlayer {
public:
    // A fresh home under the test's folder; nothing of the user's own.
    explicit cPlayer(const std::string& folder);
    ~cPlayer();

    std::string home() const { return mHome; }
    std::string dataFolder() const { return mHome + "/.local/share/Lumivex/Lumivex2"; }
    // Writes settings.xml naming the catalogue server, with the other items
    // given (whole lines).
    void writeSettings(const std::string& server, const std::string& items = {});
    // Puts a catalogue in the channel folder.
    void installCatalogue(const std::string& database);

    // The desktop's locale the program starts with (LANG, with LC_ALL and
    // LC_MESSAGES unset); "C.UTF-8", English, unless set here.
    void setLocale(const std::string& lang) { mLocale = lang; }
    // Starts the installed program from another working folder, with the
    // arguments given.
    ::testing::AssertionResult start(const std::vector<std::string>& arguments = {});
    // Waits until the program's window carries the title.
    ::testing::AssertionResult waitForTitle(const std::string& title, int timeoutMs = 30000);
    // The title now (empty: no window).
    std::string title();
    // A click of the left button at stage coordinates.
    ::testing::AssertionResult click(int x, int y);
    // Presses and releases a key (an X key name: "Down", "Escape", "f") with
    // the keyboard focus on the stage.
    ::testing::AssertionResult key(const std::string& name);
    // Moves the pointer to stage coordinates without a click.
    ::testing::AssertionResult move(int x, int y);
    // Turns the wheel at stage coordinates: up (away from the user) or down.
    ::testing::AssertionResult wheel(int x, int y, bool up, int notches = 1);
    // A screenshot of the stage, kept as <folder>/shots/NN-<name>.png.
    cImage shot(const std::string& name);
    // Takes screenshots until the region's mean colour is near the colour.
    ::testing::AssertionResult waitForRegion(const std::string& name, const cRect& rect, cColour colour,
                                             int tolerance, int timeoutMs = 30000);
    // Takes screenshots until at least the share (0 to 1) of the region's
    // pixels is within tolerance of the colour (letters of a colour, say).
    ::testing::AssertionResult waitForShare(const std::string& name, const cRect& rect, cColour colour,
                                            int tolerance, double share, int timeoutMs = 30000);
    // Takes screenshots until two in a row agree in the region (the whole
    // stage by default): every animation there has ended. Keeps the last
    // one as the named shot.
    ::testing::AssertionResult waitForStill(const std::string& name, const cRect& rect = {0, 0, 800, 600},
                                            int timeoutMs = 30000);
    // Takes screenshots until the region differs from the first one (more
    // than 2 % of its pixels changed): something there moves.
    ::testing::AssertionResult waitForChange(const std::string& name, const cRect& rect, int timeoutMs = 30000);
    // The screenshot that shot(), waitForRegion() or waitForStill() kept last.
    const cImage& lastShot() const { return mLastShot; }
    // Closes the stage window as the window manager's close button does.
    ::testing::AssertionResult closeWindow();
    // Closes a window of another process (a message box) once it shows.
    bool closeWindowTitled(const std::string& title);
    ::testing::AssertionResult waitForExit(int timeoutMs = 30000);
    int exitStatus() const { return mProgram ? mProgram->exitStatus() : -1; }
    bool running() { return mProgram && mProgram->running(); }
    std::string errorText() const { return mProgram ? mProgram->errorText() : std::string(); }
    // Waits until the data folder holds a recent channel's picture (a
    // non-empty rec<hex>.tmp) and gives its path.
    ::testing::AssertionResult waitForPicture(std::string& path, int timeoutMs = 30000);
    // A file of the data folder, as bytes.
    std::string userFile(const std::string& name) const { return readFile(dataFolder() + "/" + name); }

private:
    ::testing::AssertionResult failure(const std::string& what);
    Window window();
    bool capture(const std::string& ppmPath, cImage& image, std::string& problem);
    cImage keep(const std::string& ppmPath, const std::string& name, cImage image);

    std::string mFolder;
    std::string mHome;
    cDisplay mDisplay;
    std::optional<cProcess> mProgram;
    int mShots = 0;
    cImage mLastShot;
    std::string mLocale = "C.UTF-8";
};

} // namespace e2e
