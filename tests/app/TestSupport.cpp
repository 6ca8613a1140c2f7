#include "TestSupport.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

#include "app/Stage.h"
#include "app/Toolkit.h"

std::string makeTempFolder()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && base[0] == '/' ? base : "/tmp") + "/lumivex-app-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) {
        return {};
    }
    return buffer.data();
}

void usePrivateHome()
{
    static bool done = false;
    if (done) {
        return;
    }
    done = true;
    static const std::string home = makeTempFolder();
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(home, ignored);
    });
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_CACHE_HOME", (home + "/.cache").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
    unsetenv("XDG_DATA_HOME");
}

namespace {
std::string uiFailureText; // the test's main thread only
}

bool ensureUi()
{
    static int state = 0; // 0 not tried, 1 up, 2 failed
    if (state == 0) {
        usePrivateHome();
        const char* display = std::getenv("DISPLAY");
        if (display == nullptr || *display == '\0') {
            uiFailureText = "DISPLAY is not set: this test needs an X server (the test command starts Xvfb)";
            state = 2;
        } else if (!initializeUi()) {
            uiFailureText = std::string("the toolkit could not start on the X server at DISPLAY=") + display;
            state = 2;
        } else {
            state = 1;
        }
    }
    return state == 1;
}

std::string uiFailure()
{
    return uiFailureText;
}

bool runMainLoopUntil(const std::function<bool()>& condition, int timeoutMilliseconds)
{
    const double end = nowMilliseconds() + timeoutMilliseconds;
    while (!condition()) {
        if (nowMilliseconds() > end) {
            return condition();
        }
        if (!g_main_context_iteration(nullptr, FALSE)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    return true;
}

void runMainLoopFor(int milliseconds)
{
    runMainLoopUntil([] { return false; }, milliseconds);
}

double nowMilliseconds()
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void sScreenshot::at(int x, int y, int& red, int& green, int& blue) const
{
    const size_t offset = (static_cast<size_t>(y) * width + x) * 4;
    red = static_cast<unsigned char>(pixels[offset]);
    green = static_cast<unsigned char>(pixels[offset + 1]);
    blue = static_cast<unsigned char>(pixels[offset + 2]);
}

bool sScreenshot::writePpm(const std::string& path) const
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    std::fprintf(file, "P6\n%d %d\n255\n", width, height);
    for (size_t i = 0; i + 3 < pixels.size(); i += 4) {
        std::fwrite(pixels.data() + i, 1, 3, file);
    }
    return std::fclose(file) == 0;
}

namespace {

struct sCapture {
    sScreenshot shot;
    int paints = 0;
};

void captureAfterPaint(ClutterStage* stage, gpointer data)
{
    auto* capture = static_cast<sCapture*>(data);
    float width = 0.0f;
    float height = 0.0f;
    clutter_actor_get_size(CLUTTER_ACTOR(stage), &width, &height);
    guchar* pixels = clutter_stage_read_pixels(stage, 0, 0, static_cast<int>(width), static_cast<int>(height));
    if (pixels == nullptr) {
        return;
    }
    capture->shot.width = static_cast<int>(width);
    capture->shot.height = static_cast<int>(height);
    capture->shot.pixels.assign(reinterpret_cast<const char*>(pixels), static_cast<size_t>(width * height * 4));
    g_free(pixels);
    ++capture->paints;
}

} // namespace

sScreenshot takeScreenshot()
{
    runMainLoopUntil([] { return CLUTTER_ACTOR_IS_MAPPED(stageActor()); }, 5000);
    sCapture capture;
    const gulong handler = g_signal_connect(stage(), "after-paint", G_CALLBACK(captureAfterPaint), &capture);
    // The first paint after a change may still come from a window that the
    // server has only just mapped; the second one is the settled picture.
    for (int paint = 1; paint <= 2; ++paint) {
        clutter_actor_queue_redraw(stageActor());
        runMainLoopUntil([&] { return capture.paints >= paint; }, 5000);
    }
    g_signal_handler_disconnect(stage(), handler);
    return capture.shot;
}
