// Start-up and shutdown of the real program: lumivex (and lumivex_traced,
// the same program with its steps written to standard error) run with a
// fresh home folder; the test finds the stage window on the X server,
// closes it as a window manager would, and checks the exit status, the
// folders, the files and the order of the steps.

#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using tEnvironment = std::map<std::string, std::optional<std::string>>;

std::string makeTempFolder()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && base[0] == '/' ? base : "/tmp") + "/lumivex-start-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    return mkdtemp(buffer.data()) != nullptr ? std::string(buffer.data()) : std::string();
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

bool isDirectory(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool fileExists(const std::string& path)
{
    return access(path.c_str(), F_OK) == 0;
}

// UTF-16 little-endian with a byte-order mark, as the user files are kept.
std::string utf16File(const std::string& ascii)
{
    std::string bytes = "\xFF\xFE";
    for (char c : ascii) {
        bytes += c;
        bytes += '\0';
    }
    return bytes;
}

// A child process of the test with its standard error in a file.
class cProgram {
public:
    cProgram(const std::string& executable, const std::vector<std::string>& arguments, const tEnvironment& changes,
             const std::string& errorPath)
        : mErrorPath(errorPath)
    {
        std::map<std::string, std::string> variables;
        for (char** entry = environ; *entry != nullptr; ++entry) {
            const std::string text = *entry;
            const size_t equals = text.find('=');
            if (equals != std::string::npos) {
                variables[text.substr(0, equals)] = text.substr(equals + 1);
            }
        }
        for (const auto& [name, value] : changes) {
            if (value) {
                variables[name] = *value;
            } else {
                variables.erase(name);
            }
        }
        std::vector<std::string> environmentText;
        for (const auto& [name, value] : variables) {
            environmentText.push_back(name + "=" + value);
        }
        std::vector<char*> environmentPointers;
        for (std::string& text : environmentText) {
            environmentPointers.push_back(text.data());
        }
        environmentPointers.push_back(nullptr);

        std::vector<std::string> argumentText{executable};
        argumentText.insert(argumentText.end(), arguments.begin(), arguments.end());
        std::vector<char*> argumentPointers;
        for (std::string& text : argumentText) {
            argumentPointers.push_back(text.data());
        }
        argumentPointers.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, errorPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        if (posix_spawn(&mPid, executable.c_str(), &actions, nullptr, argumentPointers.data(),
                        environmentPointers.data()) != 0) {
            mPid = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
    }

    ~cProgram()
    {
        if (mPid > 0 && !mExited) {
            kill(mPid, SIGKILL);
            waitpid(mPid, nullptr, 0);
        }
    }

    pid_t pid() const { return mPid; }

    // Waits for the exit; false when the time ran out.
    bool waitForExit(int timeoutMilliseconds)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
        while (std::chrono::steady_clock::now() < end) {
            int status = 0;
            if (waitpid(mPid, &status, WNOHANG) == mPid) {
                mExited = true;
                mStatus = status;
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    // The exit status, or -1000 after a signal.
    int exitStatus() const { return WIFEXITED(mStatus) ? WEXITSTATUS(mStatus) : -1000; }

    std::string errorText() const { return readFile(mErrorPath); }

    // The "step: " lines written so far.
    std::vector<std::string> steps() const
    {
        std::vector<std::string> result;
        std::istringstream in(errorText());
        std::string line;
        while (std::getline(in, line)) {
            if (line.rfind("step: ", 0) == 0) {
                result.push_back(line.substr(6));
            }
        }
        return result;
    }

private:
    pid_t mPid = -1;
    bool mExited = false;
    int mStatus = 0;
    std::string mErrorPath;
};

// The test's own connection to the X server the program draws on.
class cServer {
public:
    cServer() : mDisplay(XOpenDisplay(nullptr)) {}
    ~cServer()
    {
        if (mDisplay != nullptr) {
            XCloseDisplay(mDisplay);
        }
    }
    bool isOpen() const { return mDisplay != nullptr; }

    // The top-level window of the process (and with the title, when one is
    // given); 0 when there is none yet.
    Window findWindow(pid_t pid, const std::string& title)
    {
        Window root = DefaultRootWindow(mDisplay);
        Window parent = 0;
        Window* children = nullptr;
        unsigned count = 0;
        Window found = 0;
        if (XQueryTree(mDisplay, root, &root, &parent, &children, &count) == 0) {
            return 0;
        }
        for (unsigned i = 0; i < count && found == 0; ++i) {
            if (windowPid(children[i]) == pid && (title.empty() || windowTitle(children[i]) == title)) {
                found = children[i];
            }
        }
        if (children != nullptr) {
            XFree(children);
        }
        return found;
    }

    Window waitForWindow(pid_t pid, const std::string& title, int timeoutMilliseconds)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
        while (std::chrono::steady_clock::now() < end) {
            if (Window window = findWindow(pid, title); window != 0) {
                return window;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return 0;
    }

    // What a window manager sends when the user closes the window.
    void close(Window window)
    {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = XInternAtom(mDisplay, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = static_cast<long>(XInternAtom(mDisplay, "WM_DELETE_WINDOW", False));
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(mDisplay, window, False, NoEventMask, &event);
        XFlush(mDisplay);
    }

private:
    long windowPid(Window window)
    {
        long pid = -1;
        unsigned char* data = nullptr;
        Atom type = None;
        int format = 0;
        unsigned long count = 0;
        unsigned long remaining = 0;
        if (XGetWindowProperty(mDisplay, window, XInternAtom(mDisplay, "_NET_WM_PID", False), 0, 1, False,
                               XA_CARDINAL, &type, &format, &count, &remaining, &data) == Success &&
            data != nullptr) {
            if (count == 1) {
                pid = *reinterpret_cast<long*>(data);
            }
            XFree(data);
        }
        return pid;
    }

    std::string windowTitle(Window window)
    {
        std::string title;
        unsigned char* data = nullptr;
        Atom type = None;
        int format = 0;
        unsigned long count = 0;
        unsigned long remaining = 0;
        if (XGetWindowProperty(mDisplay, window, XInternAtom(mDisplay, "_NET_WM_NAME", False), 0, 1024, False,
                               XInternAtom(mDisplay, "UTF8_STRING", False), &type, &format, &count, &remaining,
                               &data) == Success &&
            data != nullptr) {
            title.assign(reinterpret_cast<const char*>(data), count);
            XFree(data);
        }
        return title;
    }

    Display* mDisplay;
};

// The catalogue server on its default address, serving a small catalogue
// of version 1 built with the catalogue builder: what a first start reads.
class cCatalogueServer {
public:
    explicit cCatalogueServer(const std::string& folder) : mFolder(folder)
    {
        std::filesystem::create_directories(folder);
        {
            std::ofstream listing(folder + "/listing.txt");
            listing << "France\tNews\tInfo\tNews all day\thttp://127.0.0.1:8391/info.mp4\n"
                    << "Spain\tMusic\tRadio\tHits\thttp://127.0.0.1:8391/radio.mp4\n";
        }
        cProgram builder(LUMIVEX_CATALOGUE_EXECUTABLE, {"build", folder + "/listing.txt", folder + "/database"}, {},
                         folder + "/builder.stderr");
        mReady = builder.waitForExit(30000) && builder.exitStatus() == 0;
        std::ofstream(folder + "/dbversion") << "1\n";
        if (mReady) {
            mServer.emplace(LUMIVEX_SERVER_EXECUTABLE,
                            std::vector<std::string>{"--root", folder, "--port", "8391"}, tEnvironment{},
                            folder + "/server.stderr");
            mReady = waitForPort();
        }
    }

    bool ready() const { return mReady; }
    std::string database() const { return mFolder + "/database"; }
    std::string errorText() const { return readFile(mFolder + "/server.stderr"); }

private:
    bool waitForPort()
    {
        for (int attempt = 0; attempt < 200; ++attempt) {
            const int fd = socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(8391);
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            const bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
            ::close(fd);
            if (connected) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    std::string mFolder;
    std::optional<cProgram> mServer;
    bool mReady = false;
};

const std::string InitialSettings =
    utf16File("<settings>\n<item name=\"dbversion\">0</item>\n<item name=\"language\">english</item>\n"
              "<item name=\"theme\">black</item>\n</settings>\n");

class StartupTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* display = std::getenv("DISPLAY");
        if (display == nullptr || *display == '\0' || !mServer.isOpen()) {
            GTEST_SKIP() << "no display";
        }
        mHome = makeTempFolder();
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
    // comes from HOME alone.
    tEnvironment homeEnvironment() const
    {
        return {{"HOME", mHome},
                {"XDG_DATA_HOME", std::nullopt},
                {"XDG_CACHE_HOME", std::nullopt},
                {"XDG_CONFIG_HOME", std::nullopt}};
    }

    std::string errorPath(const char* name) const { return mHome + "/" + name + ".stderr"; }

    // Runs the program until the window with the title is up, then closes it.
    void runAndClose(cProgram& program, const char* title)
    {
        ASSERT_GT(program.pid(), 0);
        const Window window = mServer.waitForWindow(program.pid(), title, 60000);
        ASSERT_NE(window, 0u) << program.errorText();
        mServer.close(window);
        ASSERT_TRUE(program.waitForExit(30000)) << program.errorText();
    }

    // Waits until a traced program has written the step.
    static bool waitForStep(const cProgram& program, const std::string& step)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < end) {
            const std::vector<std::string> steps = program.steps();
            if (std::find(steps.begin(), steps.end(), step) != steps.end()) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    void startCatalogueServer()
    {
        mCatalogue.emplace(mHome + "/server");
        ASSERT_TRUE(mCatalogue->ready()) << "the catalogue server did not start on 127.0.0.1:8391: "
                                         << mCatalogue->errorText();
    }

    cServer mServer;
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
    cProgram program(LUMIVEX_EXECUTABLE, {}, homeEnvironment(), errorPath("lumivex"));
    ASSERT_GT(program.pid(), 0);
    ASSERT_NE(mServer.waitForWindow(program.pid(), "", 60000), 0u) << program.errorText();
    // The catalogue arrives from the server; the first scene follows a
    // moment later.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!fileExists(mDataFolder + "/channels/database") && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::this_thread::sleep_for(std::chrono::seconds(3));
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
    EXPECT_TRUE(program.steps().empty());
}

TEST_F(StartupTest, StepsRunInTheFixedOrder)
{
    startCatalogueServer();
    cProgram program(LUMIVEX_TRACED_EXECUTABLE, {}, homeEnvironment(), errorPath("traced"));
    ASSERT_TRUE(waitForStep(program, "request new catalogue scene")) << program.errorText();
    runAndClose(program, "");
    EXPECT_EQ(program.exitStatus(), 0) << program.errorText();
    // The program finds its folder through /proc/self/exe: links resolved.
    const std::string applicationFolder =
        std::filesystem::canonical(LUMIVEX_TRACED_EXECUTABLE).parent_path().string() + "/";
    const std::vector<std::string> expected = {
        "create folder " + mHome + "/.local/share/Lumivex",
        "create folder " + mDataFolder,
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
    EXPECT_EQ(program.steps(), expected) << program.errorText();
}

TEST_F(StartupTest, SecondStartCreatesNothingKeepsTheSettingsAndShowsTheHomeScene)
{
    startCatalogueServer();
    std::filesystem::create_directories(mDataFolder + "/channels");
    std::filesystem::copy_file(mCatalogue->database(), mDataFolder + "/channels/database");
    {
        std::ofstream out(mDataFolder + "/settings.xml", std::ios::binary);
        out << utf16File("<settings>\n<item name=\"dbversion\">1</item>\n<item name=\"volume\">42</item>\n"
                         "</settings>\n");
    }
    cProgram program(LUMIVEX_TRACED_EXECUTABLE, {}, homeEnvironment(), errorPath("second"));
    // The catalogue is current: no new one, so the home scene comes first.
    runAndClose(program, "Recent channels...");
    EXPECT_EQ(program.exitStatus(), 0) << program.errorText();
    for (const std::string& step : program.steps()) {
        EXPECT_NE(step.rfind("create folder", 0), 0u) << step;
    }
    const std::vector<std::string> steps = program.steps();
    EXPECT_NE(std::find(steps.begin(), steps.end(), "request home scene"), steps.end()) << program.errorText();
    const std::string saved = readFile(mDataFolder + "/settings.xml");
    EXPECT_NE(saved.find(utf16File("<item name=\"volume\">42</item>\n").substr(2)), std::string::npos);
    EXPECT_NE(saved.find(utf16File("<item name=\"language\">english</item>\n").substr(2)), std::string::npos);
}

TEST_F(StartupTest, TerminationSignalsShutDownLikeClosingTheWindow)
{
    startCatalogueServer();
    for (const int signalNumber : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signalNumber);
        cProgram program(LUMIVEX_TRACED_EXECUTABLE, {}, homeEnvironment(), errorPath("signal"));
        ASSERT_TRUE(waitForStep(program, "open database")) << program.errorText();
        ASSERT_EQ(kill(program.pid(), signalNumber), 0);
        ASSERT_TRUE(program.waitForExit(30000)) << program.errorText();
        EXPECT_EQ(program.exitStatus(), 0) << program.errorText();
        const std::vector<std::string> steps = program.steps();
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
        cProgram program(LUMIVEX_TRACED_EXECUTABLE, {"--slow-shutdown"}, homeEnvironment(), errorPath("again"));
        ASSERT_TRUE(waitForStep(program, "open database")) << program.errorText();
        ASSERT_EQ(kill(program.pid(), SIGINT), 0);
        ASSERT_TRUE(waitForStep(program, "main loop ended")) << program.errorText();
        const std::string settings = readFile(mDataFolder + "/settings.xml");
        // The shutdown would wait 30 s; the second signal ends it now.
        ASSERT_EQ(kill(program.pid(), signalNumber), 0);
        ASSERT_TRUE(program.waitForExit(10000)) << program.errorText();
        EXPECT_EQ(program.exitStatus(), -1000) << program.errorText(); // ended by the signal
        EXPECT_EQ(program.steps().back(), "main loop ended");
        EXPECT_EQ(readFile(mDataFolder + "/settings.xml"), settings);
    }
}

TEST_F(StartupTest, NoCatalogueShowsTheBoxEndsNormallyAndReportsIt)
{
    // No server and no catalogue on disk: the database cannot be opened.
    cProgram program(LUMIVEX_TRACED_EXECUTABLE, {}, homeEnvironment(), errorPath("failing"));
    ASSERT_GT(program.pid(), 0);
    // Nobody closes the window: the failure ends the program by itself.
    ASSERT_TRUE(program.waitForExit(60000)) << program.errorText();
    EXPECT_NE(program.exitStatus(), 0);
    EXPECT_NE(program.errorText().find(
                  "Application exception: Can't initialize player database. Please, re-install application.\n"),
              std::string::npos)
        << program.errorText();
    const std::vector<std::string> steps = program.steps();
    const std::vector<std::string> tail(steps.end() - std::min<size_t>(steps.size(), 11), steps.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"initialization failed", "main loop ended", "join initialization thread",
                                              "destroy current player", "close current scene", "destroy database",
                                              "destroy player manager", "media shutdown", "clear language", "save settings", "save recent"}))
        << program.errorText();
    EXPECT_EQ(readFile(mDataFolder + "/settings.xml"), InitialSettings);
    EXPECT_TRUE(isDirectory(mDataFolder + "/channels"));
}

TEST_F(StartupTest, FailureInLoadingShowsTheBoxEndsNormallyAndReportsIt)
{
    startCatalogueServer();
    cProgram program(LUMIVEX_TRACED_EXECUTABLE, {"--fail-init"}, homeEnvironment(), errorPath("failing"));
    ASSERT_GT(program.pid(), 0);
    ASSERT_TRUE(program.waitForExit(60000)) << program.errorText();
    EXPECT_NE(program.exitStatus(), 0);
    EXPECT_NE(program.errorText().find("Application exception: probe failure\n"), std::string::npos)
        << program.errorText();
    const std::vector<std::string> steps = program.steps();
    EXPECT_EQ(steps.back(), "save recent") << program.errorText();
}

TEST_F(StartupTest, ClosingTheWindowWhileStillLoadingWaitsForTheLoading)
{
    startCatalogueServer();
    cProgram program(LUMIVEX_TRACED_EXECUTABLE, {"--slow-init"}, homeEnvironment(), errorPath("slow"));
    ASSERT_GT(program.pid(), 0);
    const Window window = mServer.waitForWindow(program.pid(), "", 60000);
    ASSERT_NE(window, 0u) << program.errorText();
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (program.errorText().find("probe waiting") == std::string::npos && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    mServer.close(window);
    ASSERT_TRUE(program.waitForExit(30000)) << program.errorText();
    EXPECT_EQ(program.exitStatus(), 0) << program.errorText();
    const std::vector<std::string> steps = program.steps();
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
        cProgram program(LUMIVEX_EXECUTABLE, {}, c.environment, errorPath(c.name));
        ASSERT_TRUE(program.waitForExit(30000)) << program.errorText();
        EXPECT_EQ(program.exitStatus(), 1) << program.errorText();
        EXPECT_NE(program.errorText().find(c.report), std::string::npos) << program.errorText();
    }
}

} // namespace
