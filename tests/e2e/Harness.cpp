#include "Harness.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace e2e {

namespace {

using tClock = std::chrono::steady_clock;

tClock::time_point deadline(int timeoutMs) { return tClock::now() + std::chrono::milliseconds(timeoutMs); }

void pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

std::string hex(unsigned long value)
{
    std::ostringstream out;
    out << "0x" << std::hex << value;
    return out.str();
}

std::string describe(cColour colour)
{
    return "(" + std::to_string(colour.r) + ", " + std::to_string(colour.g) + ", " + std::to_string(colour.b) + ")";
}

bool writeText(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
    return static_cast<bool>(out);
}

} // namespace

// ---------------------------------------------------------------------------
// cImage

bool cImage::load(const std::string& ppmPath)
{
    name = ppmPath;
    const std::string bytes = readFile(ppmPath);
    std::istringstream in(bytes);
    std::string magic;
    int maximum = 0;
    in >> magic >> mWidth >> mHeight >> maximum;
    if (magic != "P6" || mWidth <= 0 || mHeight <= 0 || maximum != 255) {
        mWidth = mHeight = 0;
        return false;
    }
    in.get(); // the single white space before the pixels
    const size_t offset = static_cast<size_t>(in.tellg());
    const size_t size = static_cast<size_t>(mWidth) * static_cast<size_t>(mHeight) * 3;
    if (bytes.size() < offset + size) {
        mWidth = mHeight = 0;
        return false;
    }
    mPixels.assign(bytes.begin() + static_cast<long>(offset), bytes.begin() + static_cast<long>(offset + size));
    return true;
}

cColour cImage::pixel(int x, int y) const
{
    const size_t at = (static_cast<size_t>(y) * static_cast<size_t>(mWidth) + static_cast<size_t>(x)) * 3;
    return {mPixels[at], mPixels[at + 1], mPixels[at + 2]};
}

namespace {
template <typename tVisit>
long visit(const cRect& rect, int width, int height, tVisit each)
{
    long count = 0;
    for (int y = std::max(rect.y, 0); y < std::min(rect.y + rect.height, height); ++y) {
        for (int x = std::max(rect.x, 0); x < std::min(rect.x + rect.width, width); ++x) {
            each(x, y);
            ++count;
        }
    }
    return count;
}
bool within(cColour a, cColour b, int tolerance)
{
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance && std::abs(a.b - b.b) <= tolerance;
}
} // namespace

cColour cImage::mean(const cRect& rect) const
{
    long r = 0, g = 0, b = 0;
    const long count = visit(rect, mWidth, mHeight, [&](int x, int y) {
        const cColour c = pixel(x, y);
        r += c.r;
        g += c.g;
        b += c.b;
    });
    if (count == 0) {
        return {-1, -1, -1};
    }
    return {static_cast<int>(r / count), static_cast<int>(g / count), static_cast<int>(b / count)};
}

double cImage::shareNear(const cRect& rect, cColour colour, int tolerance) const
{
    long hits = 0;
    const long count = visit(rect, mWidth, mHeight, [&](int x, int y) { hits += within(pixel(x, y), colour, tolerance); });
    return count == 0 ? 0.0 : static_cast<double>(hits) / static_cast<double>(count);
}

double cImage::shareDiffering(const cImage& other, const cRect& rect, int tolerance) const
{
    if (other.mWidth != mWidth || other.mHeight != mHeight) {
        return 1.0;
    }
    long differing = 0;
    const long count = visit(rect, mWidth, mHeight,
                             [&](int x, int y) { differing += !within(pixel(x, y), other.pixel(x, y), tolerance); });
    return count == 0 ? 0.0 : static_cast<double>(differing) / static_cast<double>(count);
}

::testing::AssertionResult cImage::near(const cRect& rect, cColour colour, int tolerance) const
{
    if (mWidth == 0) {
        return ::testing::AssertionFailure() << "no screenshot in " << name;
    }
    const cColour found = mean(rect);
    if (within(found, colour, tolerance)) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "region " << rect.width << "x" << rect.height << "+" << rect.x << "+"
                                         << rect.y << " of " << name << " has the mean colour " << describe(found)
                                         << ", not within " << tolerance << " of " << describe(colour);
}

// ---------------------------------------------------------------------------
// cInstallation

cInstallation& cInstallation::instance()
{
    static cInstallation installation;
    return installation;
}

cInstallation::cInstallation()
{
    mFolder = makeTempFolder("e2e-install");
    if (mFolder.empty()) {
        mError = "cannot make a temporary folder";
        return;
    }
    const std::string prefix = mFolder + "/prefix";
    const cCommandResult result =
        runCommand({LUMIVEX_CMAKE_COMMAND, "--install", LUMIVEX_BUILD_DIR, "--prefix", prefix}, 120000, mFolder);
    if (!result.finished || result.status != 0) {
        mError = "cmake --install " + std::string(LUMIVEX_BUILD_DIR) + " --prefix " + prefix + " failed (status " +
                 std::to_string(result.status) + "):\n" + result.output + result.error;
        return;
    }
    mPrefix = prefix;
}

cInstallation::~cInstallation()
{
    if (!mFolder.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(mFolder, ignored);
    }
}

// ---------------------------------------------------------------------------
// cCatalogueServer

cCatalogueServer::cCatalogueServer(const std::string& folder, const std::vector<cChannel>& channels, int version)
    : mFolder(folder)
{
    const cInstallation& installation = cInstallation::instance();
    std::filesystem::create_directories(folder);
    // The server first, on a free port: the catalogue's addresses name it.
    // It reads the folder at every request.
    mServer.emplace(std::vector<std::string>{installation.serverTool(), "--root", folder, "--port", "0"},
                    tEnvironment{}, folder + "/server.stderr", true);
    const std::string port = mServer->readLine(30000);
    if (port.empty() || port.find_first_not_of("0123456789") != std::string::npos) {
        mProblem = "lumivex-server did not start: " + readFile(folder + "/server.stderr");
        return;
    }
    mAddress = "127.0.0.1:" + port;

    std::string listing;
    for (const cChannel& channel : channels) {
        std::string address = channel.address;
        if (!channel.file.empty()) {
            address = "http://" + mAddress + "/" + channel.file;
        }
        if (!channel.clipColour.empty()) {
            // Short and small: a solid colour with a white square moving
            // across it (so two pictures a moment apart differ) and a tone.
            // The square is laid over with overlay, whose "t" is the time
            // (drawbox's "t" is its line thickness: a box drawn there stands
            // still).
            const cCommandResult clip = runCommand(
                {"ffmpeg", "-loglevel", "error", "-nostdin", "-y", "-f", "lavfi", "-i",
                 "color=c=" + channel.clipColour +
                     ":size=320x240:rate=25[colour];color=c=white:size=40x40:rate=25[square];"
                     "[colour][square]overlay=x=mod(t*100\\,280):y=100[out0]",
                 "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000", "-t", "30", "-c:v", "libx264",
                 "-preset", "ultrafast", "-pix_fmt", "yuv420p", "-c:a", "aac", "-movflags", "+faststart",
                 folder + "/" + channel.file},
                60000, folder);
            if (!clip.finished || clip.status != 0) {
                mProblem = "ffmpeg could not make " + channel.file + ": " + clip.error;
                return;
            }
        }
        listing += channel.country + "\t" + channel.type + "\t" + channel.name + "\t" + channel.description + "\t" +
                   address + "\n";
    }
    writeText(folder + "/listing.txt", listing);
    const cCommandResult built =
        runCommand({installation.catalogueTool(), "build", folder + "/listing.txt", folder + "/database"}, 30000,
                   folder);
    if (!built.finished || built.status != 0) {
        mProblem = "lumivex-catalogue build failed: " + built.error;
        return;
    }
    writeText(folder + "/dbversion", std::to_string(version) + "\n");
    mReady = true;
}

// ---------------------------------------------------------------------------
// cStallingServer

namespace {

// A socket listening on a free port of 127.0.0.1; -1 when none could be
// made.
int listenOnLoopback(int backlog, int& port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(fd, backlog) != 0 || getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        return -1;
    }
    port = ntohs(address.sin_port);
    return fd;
}

} // namespace

cStallingServer::cStallingServer(int version) : mVersion(version)
{
    mListener = listenOnLoopback(8, mPort);
    if (mListener >= 0) {
        mThread = std::thread([this] { serve(); });
    }
}

cStallingServer::~cStallingServer()
{
    mStop = true;
    if (mThread.joinable()) {
        mThread.join();
    }
    if (mListener >= 0) {
        ::close(mListener);
    }
}

cSilentServer::cSilentServer()
{
    // The kernel completes the connections of its backlog by itself.
    mListener = listenOnLoopback(16, mPort);
}

cSilentServer::~cSilentServer()
{
    if (mListener >= 0) {
        ::close(mListener);
    }
}

void cStallingServer::serve()
{
    while (!mStop) {
        pollfd waiting{mListener, POLLIN, 0};
        if (poll(&waiting, 1, 50) <= 0) {
            continue;
        }
        const int connection = accept4(mListener, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection >= 0) {
            answer(connection);
            ::close(connection);
        }
    }
}

void cStallingServer::answer(int connection)
{
    // The request head, up to its empty line (bounded in size and time).
    std::string request;
    const auto end = deadline(5000);
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 8192 && tClock::now() < end && !mStop) {
        pollfd waiting{connection, POLLIN, 0};
        if (poll(&waiting, 1, 50) <= 0) {
            continue;
        }
        char buffer[1024];
        const ssize_t got = recv(connection, buffer, sizeof(buffer), 0);
        if (got <= 0) {
            return;
        }
        request.append(buffer, static_cast<size_t>(got));
    }
    auto sendAll = [connection](const std::string& text) {
        return send(connection, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
    };
    if (request.rfind("GET /dbversion.php ", 0) == 0) {
        const std::string body = std::to_string(mVersion) + "\n";
        sendAll("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) +
                "\r\nConnection: close\r\n\r\n" + body);
        return;
    }
    if (request.rfind("GET /database ", 0) != 0) {
        sendAll("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        return;
    }
    // A megabyte announced; the start of an SQLite file, then one byte every
    // 50 ms, until the client hangs up or the test ends.
    if (!sendAll("HTTP/1.1 200 OK\r\nContent-Type: application/vnd.sqlite3\r\nContent-Length: 1048576\r\n"
                 "Connection: close\r\n\r\n")) {
        return;
    }
    std::string start("SQLite format 3", 16);
    start.resize(4096, '\0');
    if (!sendAll(start)) {
        return;
    }
    mBodyBytes += static_cast<long>(start.size());
    while (!mStop && sendAll(std::string(1, '\0'))) {
        ++mBodyBytes;
        pause(50);
    }
}

// ---------------------------------------------------------------------------
// cPlayer

cPlayer::cPlayer(const std::string& folder) : mFolder(folder), mHome(folder + "/home")
{
    std::filesystem::create_directories(mHome);
    std::filesystem::create_directories(mFolder + "/shots");
}

cPlayer::~cPlayer() = default;

void cPlayer::writeSettings(const std::string& server, const std::string& items)
{
    std::filesystem::create_directories(dataFolder());
    writeText(dataFolder() + "/settings.xml",
              utf16File("<settings>\n" + items + "<item name=\"server\">" + server + "</item>\n</settings>\n"));
}

void cPlayer::installCatalogue(const std::string& database)
{
    std::filesystem::create_directories(dataFolder() + "/channels");
    std::filesystem::copy_file(database, dataFolder() + "/channels/database",
                               std::filesystem::copy_options::overwrite_existing);
}

::testing::AssertionResult cPlayer::failure(const std::string& what)
{
    std::string text = what + " (title now \"" + title() + "\")";
    if (mProgram) {
        text += "\nthe program's standard error:\n" + mProgram->errorText();
    }
    return ::testing::AssertionFailure() << text;
}

::testing::AssertionResult cPlayer::start(const std::vector<std::string>& arguments)
{
    const cInstallation& installation = cInstallation::instance();
    if (installation.prefix().empty()) {
        return ::testing::AssertionFailure() << installation.error();
    }
    if (!mDisplay.isOpen()) {
        return ::testing::AssertionFailure() << "cannot connect to the X server (DISPLAY)";
    }
    // The pointer starts away from the stage, so no button of the first
    // scene shows its hover state unasked.
    runCommand({"xdotool", "mousemove", "4000", "4000"}, 10000, mFolder);
    // Only this home: the data folder comes from HOME alone. The working
    // folder is the root, so nothing is found beside the caller; the
    // language a first start takes is the one the test gives.
    std::vector<std::string> command = {installation.player()};
    command.insert(command.end(), arguments.begin(), arguments.end());
    mProgram.emplace(command,
                     tEnvironment{{"HOME", mHome},
                                  {"XDG_DATA_HOME", std::nullopt},
                                  {"XDG_CACHE_HOME", std::nullopt},
                                  {"XDG_CONFIG_HOME", std::nullopt},
                                  {"LC_ALL", std::nullopt},
                                  {"LC_MESSAGES", std::nullopt},
                                  {"LANG", mLocale}},
                     mFolder + "/lumivex.stderr", false, "/");
    if (mProgram->pid() <= 0) {
        return ::testing::AssertionFailure() << "cannot start " << installation.player();
    }
    return ::testing::AssertionSuccess();
}

Window cPlayer::window() { return mProgram ? mDisplay.findWindow(mProgram->pid()) : 0; }

std::string cPlayer::title() { return mDisplay.title(window()); }

::testing::AssertionResult cPlayer::waitForTitle(const std::string& wanted, int timeoutMs)
{
    const auto end = deadline(timeoutMs);
    for (;;) {
        if (title() == wanted) {
            return ::testing::AssertionSuccess();
        }
        if (!running()) {
            return failure("the program ended (status " + std::to_string(exitStatus()) + ") before the title \"" +
                           wanted + "\"");
        }
        if (tClock::now() >= end) {
            return failure("no window titled \"" + wanted + "\" within " + std::to_string(timeoutMs) + " ms");
        }
        pause(25);
    }
}

::testing::AssertionResult cPlayer::click(int x, int y)
{
    const Window stage = window();
    if (stage == 0) {
        return failure("no window to click in");
    }
    const cCommandResult result = runCommand({"xdotool", "mousemove", "--window", std::to_string(stage),
                                              std::to_string(x), std::to_string(y), "click", "1"},
                                             10000, mFolder);
    if (!result.finished || result.status != 0) {
        return failure("xdotool could not click at " + std::to_string(x) + "," + std::to_string(y) + ": " +
                       result.error);
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult cPlayer::key(const std::string& name)
{
    const Window stage = window();
    if (stage == 0) {
        return failure("no window to type in");
    }
    // Without a window manager nobody gives the stage the focus: xdotool
    // does, then types through the X server's test extension.
    const cCommandResult result = runCommand(
        {"xdotool", "windowfocus", "--sync", std::to_string(stage), "key", "--clearmodifiers", name}, 10000, mFolder);
    if (!result.finished || result.status != 0) {
        return failure("xdotool could not press " + name + ": " + result.error);
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult cPlayer::move(int x, int y)
{
    const Window stage = window();
    if (stage == 0) {
        return failure("no window to move the pointer in");
    }
    const cCommandResult result = runCommand(
        {"xdotool", "mousemove", "--window", std::to_string(stage), std::to_string(x), std::to_string(y)}, 10000,
        mFolder);
    if (!result.finished || result.status != 0) {
        return failure("xdotool could not move the pointer to " + std::to_string(x) + "," + std::to_string(y) + ": " +
                       result.error);
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult cPlayer::wheel(int x, int y, bool up, int notches)
{
    const Window stage = window();
    if (stage == 0) {
        return failure("no window to turn the wheel in");
    }
    // Buttons 4 and 5 are the wheel's notches away from and towards the user.
    const cCommandResult result =
        runCommand({"xdotool", "mousemove", "--window", std::to_string(stage), std::to_string(x), std::to_string(y),
                    "click", "--repeat", std::to_string(notches), "--delay", "100", up ? "4" : "5"},
                   10000, mFolder);
    if (!result.finished || result.status != 0) {
        return failure("xdotool could not turn the wheel: " + result.error);
    }
    return ::testing::AssertionSuccess();
}

bool cPlayer::capture(const std::string& ppmPath, cImage& image, std::string& problem)
{
    const Window stage = window();
    if (stage == 0) {
        problem = "no window to take a picture of";
        return false;
    }
    // 8 bits a channel: ImageMagick writes 16 otherwise.
    const cCommandResult taken =
        runCommand({"import", "-silent", "-window", hex(stage), "-depth", "8", "ppm:" + ppmPath}, 20000, mFolder);
    if (!taken.finished || taken.status != 0 || !image.load(ppmPath)) {
        problem = "import failed: " + taken.error;
        return false;
    }
    return true;
}

cImage cPlayer::keep(const std::string& ppmPath, const std::string& name, cImage image)
{
    char number[16];
    std::snprintf(number, sizeof(number), "%02d", ++mShots);
    const std::string base = mFolder + "/shots/" + number + "-" + name;
    // Kept as PNG for a look after a failure, and for documentation when
    // LUMIVEX_E2E_SHOTS names a folder.
    runCommand({"convert", ppmPath, base + ".png"}, 20000, mFolder);
    if (const char* folder = std::getenv("LUMIVEX_E2E_SHOTS"); folder != nullptr && *folder != '\0') {
        std::error_code ignored;
        std::filesystem::create_directories(folder, ignored);
        std::filesystem::copy_file(base + ".png", std::string(folder) + "/" + name + ".png",
                                   std::filesystem::copy_options::overwrite_existing, ignored);
    }
    std::filesystem::remove(ppmPath);
    image.name = base + ".png";
    mLastShot = image;
    return image;
}

cImage cPlayer::shot(const std::string& name)
{
    const std::string path = mFolder + "/shots/taking.ppm";
    cImage image;
    std::string problem;
    if (!capture(path, image, problem)) {
        image = cImage();
        image.name = name + " (" + problem + ")";
        mLastShot = image;
        return image;
    }
    return keep(path, name, image);
}

::testing::AssertionResult cPlayer::waitForRegion(const std::string& name, const cRect& rect, cColour colour,
                                                  int tolerance, int timeoutMs)
{
    const auto end = deadline(timeoutMs);
    const std::string path = mFolder + "/shots/waiting.ppm";
    std::string last;
    for (;;) {
        cImage image;
        if (capture(path, image, last)) {
            const ::testing::AssertionResult seen = image.near(rect, colour, tolerance);
            if (seen) {
                keep(path, name, image);
                return seen;
            }
            last = seen.message();
        }
        if (!running()) {
            return failure("the program ended (status " + std::to_string(exitStatus()) + ") before " + name);
        }
        if (tClock::now() >= end) {
            return failure("waiting for " + name + ": " + last);
        }
        pause(100);
    }
}

::testing::AssertionResult cPlayer::waitForShare(const std::string& name, const cRect& rect, cColour colour,
                                                 int tolerance, double share, int timeoutMs)
{
    const auto end = deadline(timeoutMs);
    const std::string path = mFolder + "/shots/share.ppm";
    std::string problem;
    double found = 0.0;
    for (;;) {
        cImage image;
        if (capture(path, image, problem)) {
            found = image.shareNear(rect, colour, tolerance);
            if (found >= share) {
                keep(path, name, image);
                return ::testing::AssertionSuccess();
            }
        }
        if (!running()) {
            return failure("the program ended (status " + std::to_string(exitStatus()) + ") before " + name);
        }
        if (tClock::now() >= end) {
            return failure("only " + std::to_string(found) + " of the region near the colour for " + name + " " +
                           problem);
        }
        pause(100);
    }
}

::testing::AssertionResult cPlayer::waitForChange(const std::string& name, const cRect& rect, int timeoutMs)
{
    const auto end = deadline(timeoutMs);
    const std::string path = mFolder + "/shots/changing.ppm";
    cImage first;
    std::string problem;
    for (;;) {
        cImage image;
        if (capture(path, image, problem)) {
            if (first.width() == 0) {
                first = image;
            } else if (image.shareDiffering(first, rect, 24) > 0.02) {
                keep(path, name, image);
                return ::testing::AssertionSuccess();
            }
        }
        if (!running()) {
            return failure("the program ended (status " + std::to_string(exitStatus()) + ") before " + name);
        }
        if (tClock::now() >= end) {
            return failure("the picture did not change for " + name + " " + problem);
        }
        pause(100);
    }
}

::testing::AssertionResult cPlayer::waitForStill(const std::string& name, const cRect& rect, int timeoutMs)
{
    const auto end = deadline(timeoutMs);
    const std::string paths[2] = {mFolder + "/shots/still-a.ppm", mFolder + "/shots/still-b.ppm"};
    cImage previous;
    std::string problem;
    for (int turn = 0;; ++turn) {
        const std::string& path = paths[turn % 2];
        cImage image;
        if (capture(path, image, problem)) {
            // Two pictures 100 ms apart that agree (up to rasteriser noise):
            // every animation in the region has ended.
            if (previous.width() > 0 && image.shareDiffering(previous, rect, 8) < 0.001) {
                keep(path, name, image);
                return ::testing::AssertionSuccess();
            }
            previous = image;
        }
        if (!running()) {
            return failure("the program ended (status " + std::to_string(exitStatus()) + ") before " + name);
        }
        if (tClock::now() >= end) {
            return failure("the picture did not settle for " + name + " " + problem);
        }
        pause(100);
    }
}

::testing::AssertionResult cPlayer::waitForPicture(std::string& path, int timeoutMs)
{
    const auto end = deadline(timeoutMs);
    for (;;) {
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator(dataFolder(), ignored)) {
            const std::string name = entry.path().filename().string();
            // "rec", one to four hexadecimal digits, ".tmp"; not the
            // picture's own temporary file (rec*.tmp.tmp) while it is
            // written.
            const bool pictureName = name.size() >= 8 && name.size() <= 11 && name.rfind("rec", 0) == 0 &&
                                     name.compare(name.size() - 4, 4, ".tmp") == 0 &&
                                     name.find_first_not_of("0123456789ABCDEF", 3) == name.size() - 4;
            if (pictureName && entry.is_regular_file(ignored) && entry.file_size(ignored) > 0) {
                path = entry.path().string();
                return ::testing::AssertionSuccess();
            }
        }
        if (!running()) {
            return failure("the program ended (status " + std::to_string(exitStatus()) +
                           ") before it kept a picture");
        }
        if (tClock::now() >= end) {
            return failure("no picture (rec*.tmp) in " + dataFolder());
        }
        pause(100);
    }
}

::testing::AssertionResult cPlayer::closeWindow()
{
    const Window stage = window();
    if (stage == 0 || !mDisplay.close(stage)) {
        return failure("no window to close");
    }
    return ::testing::AssertionSuccess();
}

bool cPlayer::closeWindowTitled(const std::string& wanted)
{
    const Window found = mDisplay.findWindowByTitle(wanted);
    return found != 0 && mDisplay.close(found);
}

::testing::AssertionResult cPlayer::waitForExit(int timeoutMs)
{
    if (!mProgram) {
        return ::testing::AssertionFailure() << "the program was not started";
    }
    if (!mProgram->waitForExit(timeoutMs)) {
        return failure("the program did not end within " + std::to_string(timeoutMs) + " ms");
    }
    return ::testing::AssertionSuccess();
}

} // namespace e2e
