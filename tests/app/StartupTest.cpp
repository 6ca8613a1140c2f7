// Start-up and shutdown of the real program: lumivex (and lumivex_traced,
// the same program with its steps written to standard error) run with a
// fresh home folder; the test finds the stage window on the X server,
// closes it as a window manager would, and checks the exit status, the
// folders, the files and the order of the steps.

// Google Test before Xlib: Xlib's macros (None, Bool) break its headers.
#include <gtest/gtest.h>

#include "tests/support/Processes.h"
#include "tests/support/XWindows.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <optional>
#include <signal.h>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using testsupport::cDisplay;
using testsupport::cProcess;
using testsupport::fileExists;
using testsupport::isDirectory;
using testsupport::makeTempFolder;
using testsupport::readFile;
using testsupport::refusedAddress;
using testsupport::tEnvironment;
using testsupport::utf16File;

// The "step: " lines a traced program has written so far.
std::vector<std::string> tracedSteps(const cProcess& program)
{
    std::vector<std::string> result;
    std::istringstream in(program.errorText());
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("step: ", 0) == 0) {
            result.push_back(line.substr(6));
        }
    }
    return result;
}

// A catalogue server of the test's own on a free port, serving a small
// catalogue of version 1 built with the catalogue builder: what a first
// start reads. It never listens on the player's default address, so an
// instance left by anything else cannot answer for it, nor this one for a
// later player.
class cCatalogueServer {
public:
    explicit cCatalogueServer(const std::string& folder) : mFolder(folder)
    {
        std::filesystem::create_directories(folder);
        {
            std::ofstream listing(folder + "/listing.txt");
            listing << "France\tNews\tInfo\tNews all day\thttp://127.0.0.1:1/info.mp4\n"
                    << "Spain\tMusic\tRadio\tHits\thttp://127.0.0.1:1/radio.mp4\n";
        }
        cProcess builder({LUMIVEX_CATALOGUE_EXECUTABLE, "build", folder + "/listing.txt", folder + "/database"}, {},
                         folder + "/builder.stderr");
        mReady = builder.waitForExit(30000) && builder.exitStatus() == 0;
        std::ofstream(folder + "/dbversion") << "1\n";
        if (mReady) {
            // The server prints the port it bound once it listens.
            mServer.emplace(std::vector<std::string>{LUMIVEX_SERVER_EXECUTABLE, "--root", folder, "--port", "0"},
                            tEnvironment{}, folder + "/server.stderr", true);
            const std::string port = mServer->readLine(30000);
            mReady = !port.empty() && port.find_first_not_of("0123456789") == std::string::npos;
            mAddress = "127.0.0.1:" + port;
        }
    }

    bool ready() const { return mReady; }
    // "host:port", as the `server` setting takes it.
    std::string address() const { return mAddress; }
    std::string database() const { return mFolder + "/database"; }
    std::string errorText() const { return readFile(mFolder + "/server.stderr"); }

private:
    std::string mFolder;
    std::string mAddress;
    std::optional<cProcess> mServer;
    bool mReady = false;
};

class StartupTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* display = std::getenv("DISPLAY");
        ASSERT_TRUE(display != nullptr && *display != '\0') << "DISPLAY is not set: these tests need an X server";
        ASSERT_TRUE(mDisplay.isOpen()) << "cannot connect to the X server at DISPLAY=" << display;
        mHome = makeTempFolder("start");
        ASSERT_FALSE(mHome.empty());
        mDataFolder = mHome + "/.local/share/Lumivex/Lumivex2";
    }

    void TearDown() override
    {
        // A failed run keeps its folder (with the programs' standard error)
        // for a look.
        if (!mHome.empty() && !HasFailure()) {
            std::error_code ignored;
            std::filesystem::remove_all(mHome, ignored);
        }
    }

    // A fresh home folder and nothing else of the user's: the data folder
    // comes from HOME alone, and the desktop's language (which a first
    // start takes) is English whatever the caller's is.
    tEnvironment homeEnvironment() const
    {
        return {{"HOME", mHome},
                {"XDG_DATA_HOME", std::nullopt},
                {"XDG_CACHE_HOME", std::nullopt},
                {"XDG_CONFIG_HOME", std::nullopt},
                {"LC_ALL", std::nullopt},
                {"LC_MESSAGES", std::nullopt},
                {"LANG", "C.UTF-8"}};
    }

    std::string errorPath(const char* name) const { return mHome + "/" + name + ".stderr"; }

    // Runs the program until the window with the title is up, then closes it.
    void runAndClose(cProcess& program, const char* title)
    {
        ASSERT_GT(program.pid(), 0);
        const Window window = mDisplay.waitForWindow(program.pid(), title, 60000);
        ASSERT_NE(window, 0u) << program.errorText();
        mDisplay.close(window);
        ASSERT_TRUE(program.waitForExit(30000)) << program.errorText();
    }

    // Waits until a traced program has written the step.
    static bool waitForStep(const cProcess& program, const std::string& step)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < end) {
            const std::vector<std::string> steps = tracedSteps(program);
            if (std::find(steps.begin(), steps.end(), step) != steps.end()) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    // Starts the test's catalogue server and points the player at it.
    void startCatalogueServer()
    {
        mCatalogue.emplace(mHome + "/server");
        ASSERT_TRUE(mCatalogue->ready()) << "the catalogue server did not start: " << mCatalogue->errorText();
        writeSettings(mCatalogue->address(), "");
    }

    // Creates the data folder with a settings.xml that names the catalogue
    // server (and holds the other items given, one per line), so that the
    // player never reaches for its default address.
    void writeSettings(const std::string& server, const std::string& items)
    {
        std::filesystem::create_directories(mDataFolder);
        std::ofstream out(mDataFolder + "/settings.xml", std::ios::binary);
        out << utf16File("<settings>\n" + items + "<item name=\"server\">" + server + "</item>\n</settings>\n");
    }

    cDisplay mDisplay;
    std::string mHome;
    std::string mDataFolder;
    std::optional<cCatalogueServer> mCatalogue;
};

// The settings after a first start that installed catalogue version 1: the
// version and the reset states of the browser's three lists join the
// initial contents.
bool isFirstStartSettings(const std::string& saved)
{
    return saved.find(utf16File("<item name=\"dbversion\">1</item>\n").substr(2)) != std::string::npos &&
           saved.find(utf16File("<item name=\"language\">english</item>\n").substr(2)) != std::string::npos;
}

TEST_F(StartupTest, FirstStartShowsTheStageAndClosingItShutsDownWithStatusZero)
{
    startCatalogueServer();
    cProcess program({LUMIVEX_EXECUTABLE}, homeEnvironment(), errorPath("lumivex"));
    ASSERT_GT(program.pid(), 0);
    ASSERT_NE(mDisplay.waitForWindow(program.pid(), "", 60000), 0u) << program.errorText();
    // The catalogue arrives from the server; the window is closed once it
    // is installed.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!fileExists(mDataFolder + "/channels/database") && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(fileExists(mDataFolder + "/channels/database")) << program.errorText();
    runAndClose(program, "");
    EXPECT_EQ(program.exitStatus(), 0) << program.errorText();
    EXPECT_TRUE(isDirectory(mHome + "/.local/share/Lumivex"));
    EXPECT_TRUE(isDirectory(mDataFolder));
    EXPECT_EQ(readFile(mDataFolder + "/channels/database"), readFile(mCatalogue->database()));
    EXPECT_TRUE(isFirstStartSettings(readFile(mDataFolder + "/settings.xml")));
    // An empty recent list writes no file.
    EXPECT_FALSE(fileExists(mDataFolder + "/recent.xml"));
    // Nothing is reported and nothing is traced in normal use.
    EXPECT_EQ(program.errorText().find("Application"), std::string::npos) << program.errorText();
    EXPECT_TRUE(tracedSteps(program).empty());
}

TEST_F(StartupTest, StepsRunInTheFixedOrder)
{
    startCatalogueServer();
    cProcess program({LUMIVEX_TRACED_EXECUTABLE}, homeEnvironment(), errorPath("traced"));
    ASSERT_TRUE(waitForStep(program, "request new catalogue scene")) << program.errorText();
    runAndClose(program, "");
    EXPECT_EQ(program.exitStatus(), 0) << program.errorText();
    // The program finds its folder through /proc/self/exe: links resolved.
    const std::string applicationFolder =
        std::filesystem::canonical(LUMIVEX_TRACED_EXECUTABLE).parent_path().string() + "/";
    // The data folder holds the settings that name the server, so no folder
    // is created here; the start without a display below creates them.
    const std::vector<std::string> expected = {
        "ui",
        "load settings",
        "load recent",
        "load language " + applicationFolder + "language/english.xml",
        "catalogue update",
        "open database",
        "request new catalogue scene",
        "main loop ended",
        "join initialization thread",
        "destroy current player",
        "close current scene",
        "destroy database",
        "destroy player manager",
        "media shutdown",
        "clear language",
        "save settings",
        "save recent",
    };
    EXPECT_EQ(tracedSteps(program), expected) << program.errorText();
}

TEST_F(StartupTest, SecondStartCreatesNothingKeepsTheSettingsAndShowsTheHomeScene)
{
    startCatalogueServer();
    std::filesystem::create_directories(mDataFolder + "/channels");
    std::filesystem::copy_file(mCatalogue->database(), mDataFolder + "/channels/database");
    writeSettings(mCatalogue->address(), "<item name=\"dbversion\">1</item>\n<item name=\"volume\">42</item>\n");
    cProcess program({LUMIVEX_TRACED_EXECUTABLE}, homeEnvironment(), errorPath("second"));
    // The catalogue is current: no new one, so the home scene comes first.
    runAndClose(program, "Recent channels...");
    EXPECT_EQ(program.exitStatus(), 0) << program.errorText();
    for (const std::string& step : tracedSteps(program)) {
        EXPECT_NE(step.rfind("create folder", 0), 0u) << step;
    }
    const std::vector<std::string> steps = tracedSteps(program);
    EXPECT_NE(std::find(steps.begin(), steps.end(), "request home scene"), steps.end()) << program.errorText();
    const std::string saved = readFile(mDataFolder + "/settings.xml");
    EXPECT_NE(saved.find(utf16File("<item name=\"volume\">42</item>\n").substr(2)), std::string::npos);
    EXPECT_NE(saved.find(utf16File("<item name=\"language\">english</item>\n").substr(2)), std::string::npos);
}

// The language: a first start takes the desktop's (LANG=pt_BR.UTF-8 is
// Portuguese) and stores it; later starts keep the stored one whatever the
// desktop says, until --language names another.
TEST_F(StartupTest, AFirstStartTakesTheDesktopsLanguageWhichThenHolds)
{
    startCatalogueServer();
    std::filesystem::create_directories(mDataFolder + "/channels");
    std::filesystem::copy_file(mCatalogue->database(), mDataFolder + "/channels/database");
    // The settings name the server but no language: as on a first start.
    writeSettings(mCatalogue->address(), "<item name=\"dbversion\">1</item>\n");
    const std::string languageFolder =
        std::filesystem::canonical(LUMIVEX_TRACED_EXECUTABLE).parent_path().string() + "/language/";
    const auto languageItem = [](const std::string& language) {
        return utf16File("<item name=\"language\">" + language + "</item>\n").substr(2);
    };
    const struct {
        const char* what;
        std::vector<std::string> arguments;
        tEnvironment locale;
        const char* title;   // the home scene's, in the language shown
        const char* language; // stored afterwards
    } starts[] = {
        {"a first start on a Brazilian desktop", {}, {{"LANG", "pt_BR.UTF-8"}}, "Canais recentes...", "portuguese"},
        {"the next start on a French one", {}, {{"LC_ALL", "fr_FR.UTF-8"}}, "Canais recentes...", "portuguese"},
        {"--language", {"--language", "polish"}, {{"LANG", "de_DE.UTF-8"}}, "Ostatnie kana\u0142y...", "polish"},
        {"and after it", {}, {{"LANG", "de_DE.UTF-8"}}, "Ostatnie kana\u0142y...", "polish"},
    };
    for (const auto& start : starts) {
        SCOPED_TRACE(start.what);
        tEnvironment environment = homeEnvironment();
        for (const auto& [name, value] : start.locale) {
            environment[name] = value;
        }
        std::vector<std::string> command = {LUMIVEX_TRACED_EXECUTABLE};
        command.insert(command.end(), start.arguments.begin(), start.arguments.end());
        cProcess program(command, environment, errorPath("language"));
        runAndClose(program, start.title);
        EXPECT_EQ(program.exitStatus(), 0) << program.errorText();
        const std::vector<std::string> steps = tracedSteps(program);
        EXPECT_NE(std::find(steps.begin(), steps.end(),
                            "load language " + languageFolder + start.language + ".xml"),
                  steps.end())
            << program.errorText();
        EXPECT_NE(readFile(mDataFolder + "/settings.xml").find(languageItem(start.language)), std::string::npos);
    }
}

// A later start that names a language hands it over: the running player
// stores it and speaks it at once, not from its next start on.
TEST_F(StartupTest, ALanguageHandedToTheRunningPlayerIsSpokenAtOnce)
{
    startCatalogueServer();
    std::filesystem::create_directories(mDataFolder + "/channels");
    std::filesystem::copy_file(mCatalogue->database(), mDataFolder + "/channels/database");
    writeSettings(mCatalogue->address(),
                  "<item name=\"dbversion\">1</item>\n<item name=\"language\">english</item>\n");
    cProcess first({LUMIVEX_TRACED_EXECUTABLE}, homeEnvironment(), errorPath("first"));
    const Window window = mDisplay.waitForWindow(first.pid(), "Recent channels...", 60000);
    ASSERT_NE(window, 0u) << first.errorText();

    cProcess second({LUMIVEX_TRACED_EXECUTABLE, "--language", "german"}, homeEnvironment(), errorPath("second"));
    ASSERT_TRUE(second.waitForExit(30000)) << second.errorText();
    EXPECT_EQ(second.exitStatus(), 0) << second.errorText();
    // The home scene's title in German, in the window that was there.
    EXPECT_NE(mDisplay.waitForWindow(first.pid(), "Zuletzt gesehen...", 10000), 0u)
        << mDisplay.title(window) << "\n" << first.errorText();
    const std::string languageFolder =
        std::filesystem::canonical(LUMIVEX_TRACED_EXECUTABLE).parent_path().string() + "/language/";
    EXPECT_TRUE(waitForStep(first, "apply language " + languageFolder + "german.xml")) << first.errorText();

    mDisplay.close(window);
    ASSERT_TRUE(first.waitForExit(30000)) << first.errorText();
    EXPECT_EQ(first.exitStatus(), 0) << first.errorText();
    EXPECT_NE(readFile(mDataFolder + "/settings.xml")
                  .find(utf16File("<item name=\"language\">german</item>\n").substr(2)),
              std::string::npos);
}

TEST_F(StartupTest, TerminationSignalsShutDownLikeClosingTheWindow)
{
    startCatalogueServer();
    for (const int signalNumber : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signalNumber);
        cProcess program({LUMIVEX_TRACED_EXECUTABLE}, homeEnvironment(), errorPath("signal"));
        ASSERT_TRUE(waitForStep(program, "open database")) << program.errorText();
        ASSERT_EQ(kill(program.pid(), signalNumber), 0);
        ASSERT_TRUE(program.waitForExit(30000)) << program.errorText();
        EXPECT_EQ(program.exitStatus(), 0) << program.errorText();
        const std::vector<std::string> steps = tracedSteps(program);
        ASSERT_FALSE(steps.empty());
        EXPECT_EQ(steps.back(), "save recent") << program.errorText();
        EXPECT_TRUE(isFirstStartSettings(readFile(mDataFolder + "/settings.xml")));
    }
}

TEST_F(StartupTest, ASignalDuringShutdownEndsTheProcessAtOnce)
{
    startCatalogueServer();
    for (const int signalNumber : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signalNumber);
        cProcess program({LUMIVEX_TRACED_EXECUTABLE, "--slow-shutdown"}, homeEnvironment(), errorPath("again"));
        ASSERT_TRUE(waitForStep(program, "open database")) << program.errorText();
        ASSERT_EQ(kill(program.pid(), SIGINT), 0);
        ASSERT_TRUE(waitForStep(program, "main loop ended")) << program.errorText();
        const std::string settings = readFile(mDataFolder + "/settings.xml");
        // The shutdown would wait 30 s; the second signal ends it now.
        ASSERT_EQ(kill(program.pid(), signalNumber), 0);
        ASSERT_TRUE(program.waitForExit(10000)) << program.errorText();
        EXPECT_EQ(program.exitStatus(), -1000 - signalNumber) << program.errorText(); // ended by the signal
        EXPECT_EQ(tracedSteps(program).back(), "main loop ended");
        EXPECT_EQ(readFile(mDataFolder + "/settings.xml"), settings);
    }
}

TEST_F(StartupTest, NoCatalogueShowsTheBoxEndsNormallyAndReportsIt)
{
    // No server and no catalogue on disk: the database cannot be opened.
    const std::string server = refusedAddress();
    writeSettings(server, "");
    cProcess program({LUMIVEX_TRACED_EXECUTABLE}, homeEnvironment(), errorPath("failing"));
    ASSERT_GT(program.pid(), 0);
    // Nobody closes the window: the failure ends the program by itself.
    ASSERT_TRUE(program.waitForExit(60000)) << program.errorText();
    EXPECT_NE(program.exitStatus(), 0);
    EXPECT_NE(program.errorText().find(
                  "Application exception: Can't initialize player database. Please, re-install application.\n"),
              std::string::npos)
        << program.errorText();
    const std::vector<std::string> steps = tracedSteps(program);
    const std::vector<std::string> tail(steps.end() - std::min<size_t>(steps.size(), 11), steps.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"initialization failed", "main loop ended", "join initialization thread",
                                              "destroy current player", "close current scene", "destroy database",
                                              "destroy player manager", "media shutdown", "clear language", "save settings", "save recent"}))
        << program.errorText();
    EXPECT_EQ(readFile(mDataFolder + "/settings.xml"),
              utf16File("<settings>\n<item name=\"dbversion\">0</item>\n<item name=\"language\">english</item>\n"
                        "<item name=\"server\">" + server + "</item>\n<item name=\"theme\">black</item>\n"
                        "</settings>\n"));
    EXPECT_TRUE(isDirectory(mDataFolder + "/channels"));
}

TEST_F(StartupTest, FailureInLoadingShowsTheBoxEndsNormallyAndReportsIt)
{
    startCatalogueServer();
    cProcess program({LUMIVEX_TRACED_EXECUTABLE, "--fail-init"}, homeEnvironment(), errorPath("failing"));
    ASSERT_GT(program.pid(), 0);
    ASSERT_TRUE(program.waitForExit(60000)) << program.errorText();
    EXPECT_NE(program.exitStatus(), 0);
    EXPECT_NE(program.errorText().find("Application exception: probe failure\n"), std::string::npos)
        << program.errorText();
    const std::vector<std::string> steps = tracedSteps(program);
    EXPECT_EQ(steps.back(), "save recent") << program.errorText();
}

TEST_F(StartupTest, ClosingTheWindowWhileStillLoadingWaitsForTheLoading)
{
    startCatalogueServer();
    cProcess program({LUMIVEX_TRACED_EXECUTABLE, "--slow-init"}, homeEnvironment(), errorPath("slow"));
    ASSERT_GT(program.pid(), 0);
    const Window window = mDisplay.waitForWindow(program.pid(), "", 60000);
    ASSERT_NE(window, 0u) << program.errorText();
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (program.errorText().find("probe waiting") == std::string::npos && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    mDisplay.close(window);
    ASSERT_TRUE(program.waitForExit(30000)) << program.errorText();
    EXPECT_EQ(program.exitStatus(), 0) << program.errorText();
    const std::vector<std::string> steps = tracedSteps(program);
    auto position = [&](const std::string& step) {
        return std::find(steps.begin(), steps.end(), step) - steps.begin();
    };
    EXPECT_LT(position("main loop ended"), position("probe ended"));
    EXPECT_LT(position("probe ended"), position("join initialization thread"));
    EXPECT_LT(position("join initialization thread"), position("save settings"));
    // No first scene is asked for once the window is closed.
    EXPECT_EQ(position("request home scene"), static_cast<long>(steps.size()));
    EXPECT_EQ(position("request new catalogue scene"), static_cast<long>(steps.size()));
    EXPECT_TRUE(isFirstStartSettings(readFile(mDataFolder + "/settings.xml")));
}

TEST_F(StartupTest, StartUpFailuresShowTheFatalErrorAndExitNonZero)
{
    struct {
        const char* name;
        tEnvironment environment;
        const char* report;
    } cases[] = {
        {"no user data folder",
         {{"HOME", std::nullopt}, {"XDG_DATA_HOME", std::nullopt}, {"DISPLAY", std::nullopt}},
         "Application fatal error: GetSafeUserDataPath fails\n"},
        {"no display",
         {{"HOME", mHome}, {"XDG_DATA_HOME", std::nullopt}, {"XDG_CACHE_HOME", std::nullopt}, {"DISPLAY", std::nullopt},
          {"WAYLAND_DISPLAY", std::nullopt}},
         "Application fatal error: Can't initialize UI subsystem.\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        cProcess program({LUMIVEX_EXECUTABLE}, c.environment, errorPath(c.name));
        ASSERT_TRUE(program.waitForExit(30000)) << program.errorText();
        EXPECT_EQ(program.exitStatus(), 1) << program.errorText();
        EXPECT_NE(program.errorText().find(c.report), std::string::npos) << program.errorText();
    }
    // The start without a display got as far as making the data folders: a
    // first start creates both.
    EXPECT_TRUE(isDirectory(mHome + "/.local/share/Lumivex"));
    EXPECT_TRUE(isDirectory(mDataFolder));
}

} // namespace

// --- the user's own lists, through the command line ---------------------

namespace {

using testsupport::cCommandResult;
using testsupport::runCommand;

std::string listEntry(const std::string& country, const std::string& name, const std::string& address)
{
    return "#EXTINF:-1 tvg-country=\"" + country + "\" group-title=\"News\"," + name + "\n" + address + "\n";
}

// A folder served over HTTP by the project's own server on a free port.
class cFileServer {
public:
    explicit cFileServer(const std::string& folder) : mFolder(folder)
    {
        std::filesystem::create_directories(folder);
        mServer.emplace(std::vector<std::string>{LUMIVEX_SERVER_EXECUTABLE, "--root", folder, "--port", "0"},
                        tEnvironment{}, folder + "/../files-server.stderr", true);
        mPort = mServer->readLine(30000);
    }
    bool ready() const { return !mPort.empty() && mPort.find_first_not_of("0123456789") == std::string::npos; }
    std::string address(const std::string& name) const { return "http://127.0.0.1:" + mPort + "/" + name; }
    void write(const std::string& name, const std::string& text) const
    {
        std::ofstream(mFolder + "/" + name, std::ios::binary) << text;
    }

private:
    std::string mFolder;
    std::string mPort;
    std::optional<cProcess> mServer;
};

class ListStartTest : public StartupTest {
protected:
    // The installed catalogue as the catalogue tool lists it.
    std::string installedRows()
    {
        const cCommandResult listed =
            runCommand({LUMIVEX_CATALOGUE_EXECUTABLE, "list", mDataFolder + "/channels/database"}, 30000, mHome);
        return listed.status == 0 ? listed.output : "(no catalogue: " + listed.error + ")";
    }

    // Starts the traced player with the arguments, waits for its first
    // scene request, closes it; the first scene it asked for.
    std::string startAndClose(const std::vector<std::string>& arguments, const char* tag)
    {
        std::vector<std::string> command = {LUMIVEX_TRACED_EXECUTABLE};
        command.insert(command.end(), arguments.begin(), arguments.end());
        cProcess program(command, homeEnvironment(), errorPath(tag));
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        std::string first;
        while (first.empty() && std::chrono::steady_clock::now() < end && program.running()) {
            for (const std::string& step : tracedSteps(program)) {
                if (step == "request home scene" || step == "request new catalogue scene") {
                    first = step;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        EXPECT_FALSE(first.empty()) << program.errorText();
        const Window window = mDisplay.waitForWindow(program.pid(), "", 10000);
        if (window != 0u) {
            mDisplay.close(window);
        }
        EXPECT_TRUE(program.waitForExit(30000)) << program.errorText();
        EXPECT_EQ(program.exitStatus(), 0) << program.errorText();
        mLastErrors = program.errorText();
        return first;
    }

    std::string mLastErrors;
};

const std::string ListOne = "#EXTM3U\n" + listEntry("FR", "Info", "http://127.0.0.1:1/info.mp4");

} // namespace

TEST_F(ListStartTest, ListsFromDiskAndFromAServerAreInstalledAndRefreshedAtEveryStart)
{
    cFileServer files(mHome + "/www");
    ASSERT_TRUE(files.ready());
    files.write("list.m3u", "#EXTM3U\n" + listEntry("IT", "Notizie", "http://127.0.0.1:1/notizie.mp4"));
    const std::string disk = mHome + "/mine.m3u";
    std::ofstream(disk) << ListOne;
    // No server is ever asked: the lists are the source.
    writeSettings(refusedAddress(), "");

    struct cStep {
        const char* what;
        std::vector<std::string> arguments;
        std::function<void()> before;
        const char* firstScene;
        std::string rows;
    };
    const cStep steps[] = {
        {"a list on disk on a fresh data folder", {"--list", disk}, {}, "request new catalogue scene",
         "France\tNews\tInfo\t\thttp://127.0.0.1:1/info.mp4\n"},
        {"a later plain start with the same list", {}, {}, "request home scene",
         "France\tNews\tInfo\t\thttp://127.0.0.1:1/info.mp4\n"},
        {"a served list in place of it", {"--list", files.address("list.m3u")}, {}, "request new catalogue scene",
         "Italy\tNews\tNotizie\t\thttp://127.0.0.1:1/notizie.mp4\n"},
        {"the served list changed", {},
         [&] {
             files.write("list.m3u", "#EXTM3U\n" + listEntry("IT", "Notizie", "http://127.0.0.1:1/notizie.mp4") +
                                         listEntry("IT", "Sport", "http://127.0.0.1:1/sport.mp4"));
         },
         "request new catalogue scene",
         "Italy\tNews\tNotizie\t\thttp://127.0.0.1:1/notizie.mp4\nItaly\tNews\tSport\t\thttp://127.0.0.1:1/sport.mp4\n"},
        {"a list opened with the player is added", {disk}, {}, "request new catalogue scene",
         "Italy\tNews\tNotizie\t\thttp://127.0.0.1:1/notizie.mp4\nItaly\tNews\tSport\t\thttp://127.0.0.1:1/sport.mp4\n"
         "France\tNews\tInfo\t\thttp://127.0.0.1:1/info.mp4\n"},
        {"the served list fails: its channels stay", {},
         [&] { std::filesystem::remove(mHome + "/www/list.m3u"); }, "request home scene",
         "Italy\tNews\tNotizie\t\thttp://127.0.0.1:1/notizie.mp4\nItaly\tNews\tSport\t\thttp://127.0.0.1:1/sport.mp4\n"
         "France\tNews\tInfo\t\thttp://127.0.0.1:1/info.mp4\n"},
    };
    for (const cStep& step : steps) {
        SCOPED_TRACE(step.what);
        if (step.before) {
            step.before();
        }
        EXPECT_EQ(startAndClose(step.arguments, step.what), step.firstScene);
        EXPECT_EQ(installedRows(), step.rows) << mLastErrors;
    }
    // The failing list was named on standard error with its status.
    EXPECT_NE(mLastErrors.find("list " + files.address("list.m3u") + " failed: status 404"), std::string::npos)
        << mLastErrors;
    const std::string saved = readFile(mDataFolder + "/settings.xml");
    EXPECT_NE(saved.find(utf16File("<item name=\"list1\">" + files.address("list.m3u") + "</item>\n").substr(2)),
              std::string::npos);
    EXPECT_NE(saved.find(utf16File("<item name=\"list2\">" + disk + "</item>\n").substr(2)), std::string::npos);
}

TEST_F(ListStartTest, AFirstStartWithAListAndNoNetworkShowsTheErrorBox)
{
    cProcess program({LUMIVEX_TRACED_EXECUTABLE, "--list", "http://" + refusedAddress() + "/list.m3u"},
                     homeEnvironment(), errorPath("offline"));
    ASSERT_TRUE(program.waitForExit(60000)) << program.errorText();
    EXPECT_NE(program.exitStatus(), 0);
    EXPECT_NE(program.errorText().find("failed: "), std::string::npos) << program.errorText();
    EXPECT_NE(program.errorText().find(
                  "Application exception: Can't initialize player database. Please, re-install application.\n"),
              std::string::npos)
        << program.errorText();
    // The list is stored all the same, for the next start.
    EXPECT_NE(readFile(mDataFolder + "/settings.xml").find(utf16File("name=\"list1\"").substr(2)), std::string::npos);
}

TEST_F(ListStartTest, OptionsThatPrintOrAreRefusedEndAtOnceAndWriteNothing)
{
    struct cCase {
        std::vector<std::string> arguments;
        int status;
        const char* output; // standard output or error holds it
    };
    const cCase cases[] = {
        {{"--help"}, 0, "Usage: lumivex"},
        {{"--version"}, 0, "lumivex "},
        {{"--sources"}, 0, "server: 127.0.0.1:"}, // the default server, no list
        {{"--unknown"}, 2, "lumivex: unknown option --unknown\nUsage: lumivex"},
        {{"--list"}, 2, "needs a file or an address"},
        {{mHome + "/no-such.m3u"}, 2, "no such file"},
    };
    for (const cCase& c : cases) {
        SCOPED_TRACE(c.output);
        std::vector<std::string> command = {LUMIVEX_EXECUTABLE};
        command.insert(command.end(), c.arguments.begin(), c.arguments.end());
        // No display: none is needed, and none is opened.
        tEnvironment environment = homeEnvironment();
        environment["DISPLAY"] = std::nullopt;
        cProcess program(command, environment, errorPath("options"), true);
        const std::string output = program.readAll(30000);
        ASSERT_TRUE(program.waitForExit(30000));
        EXPECT_EQ(program.exitStatus(), c.status) << program.errorText();
        EXPECT_NE((output + program.errorText()).find(c.output), std::string::npos) << output << program.errorText();
    }
    EXPECT_FALSE(std::filesystem::exists(mDataFolder));
}

// Two starts on one data folder: the second hands its list to the first,
// which stores it and stays the only window; the first's files are whole
// after both have ended.
TEST_F(ListStartTest, ASecondStartOnTheSameDataFolderHandsOverToTheFirst)
{
    startCatalogueServer();
    cProcess first({LUMIVEX_TRACED_EXECUTABLE}, homeEnvironment(), errorPath("first"));
    const Window window = mDisplay.waitForWindow(first.pid(), "", 60000);
    ASSERT_NE(window, 0u) << first.errorText();
    ASSERT_TRUE(waitForStep(first, "request new catalogue scene")) << first.errorText();
    std::ofstream(mHome + "/later.m3u") << ListOne;

    cProcess second({LUMIVEX_TRACED_EXECUTABLE, mHome + "/later.m3u"}, homeEnvironment(), errorPath("second"));
    ASSERT_TRUE(second.waitForExit(30000)) << second.errorText();
    EXPECT_EQ(second.exitStatus(), 0) << second.errorText();
    const std::vector<std::string> secondSteps = tracedSteps(second);
    EXPECT_NE(std::find(secondSteps.begin(), secondSteps.end(), "handed over to the running player"),
              secondSteps.end())
        << second.errorText();
    // It never opened a window of its own, and the first heard it.
    EXPECT_EQ(std::find(secondSteps.begin(), secondSteps.end(), "ui"), secondSteps.end());
    EXPECT_TRUE(waitForStep(first, "later start")) << first.errorText();
    EXPECT_TRUE(first.running());
    // The list is stored for the next start at once.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (readFile(mDataFolder + "/settings.xml").find(utf16File("name=\"list1\"").substr(2)) == std::string::npos &&
           std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }

    mDisplay.close(window);
    ASSERT_TRUE(first.waitForExit(30000)) << first.errorText();
    EXPECT_EQ(first.exitStatus(), 0) << first.errorText();
    const std::string settings = readFile(mDataFolder + "/settings.xml");
    EXPECT_NE(settings.find(utf16File("<item name=\"list1\">" + mHome + "/later.m3u</item>\n").substr(2)),
              std::string::npos);
    EXPECT_TRUE(isFirstStartSettings(settings));

    // The lock went with the first: a new start runs.
    cProcess third({LUMIVEX_TRACED_EXECUTABLE}, homeEnvironment(), errorPath("third"));
    EXPECT_NE(mDisplay.waitForWindow(third.pid(), "", 60000), 0u) << third.errorText();
    ASSERT_TRUE(waitForStep(third, "request new catalogue scene")) << third.errorText();
    mDisplay.close(mDisplay.waitForWindow(third.pid(), "", 10000));
    ASSERT_TRUE(third.waitForExit(30000));
}
