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
#include <poll.h>
#include <sys/prctl.h>
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
    // With readOutput, the program's standard output can be read with
    // readLine(); otherwise it goes nowhere.
    cProgram(const std::string& executable, const std::vector<std::string>& arguments, const tEnvironment& changes,
             const std::string& errorPath, bool readOutput = false)
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

        int output[2] = {-1, -1};
        if (pipe2(output, O_CLOEXEC) != 0) {
            return;
        }
        const int errorFile = open(errorPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const int nullFile = open("/dev/null", O_WRONLY | O_CLOEXEC);
        const pid_t parent = getpid();
        mPid = fork();
        if (mPid == 0) {
            // Only async-signal-safe calls from here on. The child dies with
            // the test, so a crashed test leaves no server or player behind
            // on the display or on a port.
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (getppid() != parent) {
                _exit(127);
            }
            setpgid(0, 0);
            dup2(readOutput ? output[1] : nullFile, STDOUT_FILENO);
            dup2(errorFile, STDERR_FILENO);
            execve(executable.c_str(), argumentPointers.data(), environmentPointers.data());
            _exit(127);
        }
        close(output[1]);
        mOutput = output[0];
        if (errorFile >= 0) {
            close(errorFile);
        }
        if (nullFile >= 0) {
            close(nullFile);
        }
    }

    // The first line the program writes on standard output, or empty when
    // it ends or the time runs out first.
    std::string readLine(int timeoutMilliseconds)
    {
        std::string line;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
        while (mOutput >= 0 && std::chrono::steady_clock::now() < end) {
            pollfd waiting{mOutput, POLLIN, 0};
            if (poll(&waiting, 1, 50) <= 0) {
                continue;
            }
            char c = 0;
            if (read(mOutput, &c, 1) != 1) {
                break;
            }
            if (c == '\n') {
                return line;
            }
            line.push_back(c);
        }
        return {};
    }

    ~cProgram()
    {
        if (mPid > 0 && !mExited) {
            kill(-mPid, SIGKILL);
            kill(mPid, SIGKILL);
            waitpid(mPid, nullptr, 0);
        }
        if (mOutput >= 0) {
            close(mOutput);
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
    int mOutput = -1; // read end of the program's standard output
    bool mExited = false;
    int mStatus = 0;
    std::string mErrorPath;
};

// The test's own connection to the X server the program draws on.
//
// The program's windows come and go while the test looks at them (a scene
// switch, the program closing), so every request about another client's
// window may fail with BadWindow. Xlib's default handler ends the process on
// such an error; this connection records it instead, and a window that went
// away simply does not match.
class cServer {
public:
    cServer() : mDisplay(XOpenDisplay(nullptr))
    {
        if (mDisplay != nullptr) {
            XSetErrorHandler(recordError);
        }
    }
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
        bool listed = false;
        guarded([&] { listed = XQueryTree(mDisplay, root, &root, &parent, &children, &count) != 0; });
        if (!listed) {
            return 0;
        }
        for (unsigned i = 0; i < count && found == 0; ++i) {
            std::string name;
            if (windowPid(children[i]) == pid && (title.empty() || (windowTitle(children[i], name) && name == title))) {
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

    // What a window manager sends when the user closes the window. False
    // when the window is already gone.
    bool close(Window window)
    {
        return guarded([&] {
            XEvent event{};
            event.xclient.type = ClientMessage;
            event.xclient.window = window;
            event.xclient.message_type = XInternAtom(mDisplay, "WM_PROTOCOLS", False);
            event.xclient.format = 32;
            event.xclient.data.l[0] = static_cast<long>(XInternAtom(mDisplay, "WM_DELETE_WINDOW", False));
            event.xclient.data.l[1] = CurrentTime;
            XSendEvent(mDisplay, window, False, NoEventMask, &event);
        });
    }

private:
    static int recordError(Display*, XErrorEvent* error)
    {
        lastError = error->error_code;
        return 0;
    }

    // Runs the requests and waits for the server's answer to all of them;
    // false when one failed (the window went away meanwhile).
    template <typename tRequests>
    bool guarded(tRequests requests)
    {
        XSync(mDisplay, False);
        lastError = Success;
        requests();
        XSync(mDisplay, False);
        return lastError == Success;
    }

    long windowPid(Window window)
    {
        long pid = -1;
        unsigned char* data = nullptr;
        Atom type = None;
        int format = 0;
        unsigned long count = 0;
        unsigned long remaining = 0;
        int status = BadImplementation;
        const bool answered = guarded([&] {
            status = XGetWindowProperty(mDisplay, window, XInternAtom(mDisplay, "_NET_WM_PID", False), 0, 1, False,
                                        XA_CARDINAL, &type, &format, &count, &remaining, &data);
        });
        if (answered && status == Success && data != nullptr && count == 1) {
            pid = *reinterpret_cast<long*>(data);
        }
        if (data != nullptr) {
            XFree(data);
        }
        return pid;
    }

    bool windowTitle(Window window, std::string& title)
    {
        unsigned char* data = nullptr;
        Atom type = None;
        int format = 0;
        unsigned long count = 0;
        unsigned long remaining = 0;
        int status = BadImplementation;
        const bool answered = guarded([&] {
            status = XGetWindowProperty(mDisplay, window, XInternAtom(mDisplay, "_NET_WM_NAME", False), 0, 1024,
                                        False, XInternAtom(mDisplay, "UTF8_STRING", False), &type, &format, &count,
                                        &remaining, &data);
        });
        const bool read = answered && status == Success && data != nullptr;
        if (read) {
            title.assign(reinterpret_cast<const char*>(data), count);
        }
        if (data != nullptr) {
            XFree(data);
        }
        return read;
    }

    static inline int lastError = Success; // the test's main thread only
    Display* mDisplay;
};

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
        cProgram builder(LUMIVEX_CATALOGUE_EXECUTABLE, {"build", folder + "/listing.txt", folder + "/database"}, {},
                         folder + "/builder.stderr");
        mReady = builder.waitForExit(30000) && builder.exitStatus() == 0;
        std::ofstream(folder + "/dbversion") << "1\n";
        if (mReady) {
            // The server prints the port it bound once it listens.
            mServer.emplace(LUMIVEX_SERVER_EXECUTABLE, std::vector<std::string>{"--root", folder, "--port", "0"},
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
    std::optional<cProgram> mServer;
    bool mReady = false;
};

// "host:port" where nothing listens: a port the system handed out and that
// was closed again at once, so a connection is refused.
std::string refusedAddress()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return "127.0.0.1:" + std::to_string(ntohs(address.sin_port));
}

class StartupTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* display = std::getenv("DISPLAY");
        ASSERT_TRUE(display != nullptr && *display != '\0') << "DISPLAY is not set: these tests need an X server";
        ASSERT_TRUE(mServer.isOpen()) << "cannot connect to the X server at DISPLAY=" << display;
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
    EXPECT_EQ(program.steps(), expected) << program.errorText();
}

TEST_F(StartupTest, SecondStartCreatesNothingKeepsTheSettingsAndShowsTheHomeScene)
{
    startCatalogueServer();
    std::filesystem::create_directories(mDataFolder + "/channels");
    std::filesystem::copy_file(mCatalogue->database(), mDataFolder + "/channels/database");
    writeSettings(mCatalogue->address(), "<item name=\"dbversion\">1</item>\n<item name=\"volume\">42</item>\n");
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
    const std::string server = refusedAddress();
    writeSettings(server, "");
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
    EXPECT_EQ(readFile(mDataFolder + "/settings.xml"),
              utf16File("<settings>\n<item name=\"dbversion\">0</item>\n<item name=\"language\">english</item>\n"
                        "<item name=\"server\">" + server + "</item>\n<item name=\"theme\">black</item>\n"
                        "</settings>\n"));
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
    // The start without a display got as far as making the data folders: a
    // first start creates both.
    EXPECT_TRUE(isDirectory(mHome + "/.local/share/Lumivex"));
    EXPECT_TRUE(isDirectory(mDataFolder));
}

} // namespace
